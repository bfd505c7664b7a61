// WOW64 redirection and the existence checks.
#include "common/exists.h"
#include "common/redirection.h"
#include "sim_fixture.h"

namespace {

using namespace CommonModule;

class RedirectionTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        sim::Make64Bit();
        bManageFSRedir = true;
    }
};

TEST_F(RedirectionTest, TwoDisablesAndOneRevertRestoreTheFirstSavedValue) {
    DisableFSRedir();
    const uintptr_t firstSaved = lOldFSRedirValue;
    EXPECT_TRUE(m().redirectionDisabled);
    DisableFSRedir();
    EXPECT_EQ(m().wow64Disables, 1) << "a second disable calls nothing";
    EXPECT_EQ(lOldFSRedirValue, firstSaved);
    RevertFSRedir();
    EXPECT_FALSE(m().redirectionDisabled);
    EXPECT_FALSE(bFSRedirDisabled);
    EXPECT_EQ(m().wow64Reverts, std::vector<uintptr_t>{firstSaved});
}

TEST_F(RedirectionTest, ARevertWithoutDisableCallsNothing) {
    RevertFSRedir();
    RevertFSRedir();
    EXPECT_TRUE(m().wow64Reverts.empty());
    EXPECT_FALSE(bFSRedirDisabled);
}

TEST_F(RedirectionTest, OffSwitchOr32BitWindowsOnlyKeepsTheFlag) {
    bManageFSRedir = false;
    DisableFSRedir();
    EXPECT_TRUE(bFSRedirDisabled);
    RevertFSRedir();
    EXPECT_FALSE(bFSRedirDisabled);

    bManageFSRedir = true;
    m().environment[L"ProgramFiles(x86)"] = L"";  // defined but empty: 32-bit
    EXPECT_FALSE(Is64bitWindows());
    DisableFSRedir();
    EXPECT_TRUE(bFSRedirDisabled);
    RevertFSRedir();
    EXPECT_EQ(m().wow64Disables, 0);
    EXPECT_TRUE(m().wow64Reverts.empty());
}

TEST_F(RedirectionTest, AMissingKernelFunctionIsTracedAndLeavesTheFlag) {
    m().systemMessages[127] = L"The specified procedure could not be found.";
    m().kernelHasWow64Functions = false;
    DisableFSRedir();
    EXPECT_FALSE(bFSRedirDisabled);
    RevertFSRedir();  // nothing to undo
    EXPECT_EQ(m().debugOutput,
              std::vector<std::wstring>{
                  L"\tDisableFSRedir:  The specified procedure could not be found."});
}

class ExistsTest : public SimTest {};

TEST_F(ExistsTest, DirectoriesAndFiles) {
    sim::AddFile(L"C:\\Data\\report.txt");
    EXPECT_TRUE(DoesDirExist(L"C:\\Data"));
    EXPECT_TRUE(DoesDirExist(L"C:\\Data\\"));
    EXPECT_FALSE(DoesFileExist(L"C:\\Data"));
    EXPECT_TRUE(DoesFileExist(L"C:\\Data\\report.txt"));
    EXPECT_FALSE(DoesDirExist(L"C:\\Data\\report.txt"));
    EXPECT_FALSE(DoesFileExist(L"C:\\Data\\missing.txt"));
    EXPECT_FALSE(DoesDirExist(L"C:\\Missing"));
    EXPECT_TRUE(DoesDirExist(L"C:"));
    EXPECT_TRUE(DoesDirExist(L"C:\\"));
}

TEST_F(ExistsTest, ALockedFileIsNeitherAFileNorADirectory) {
    sim::AddFile(L"C:\\Data\\locked.db").openable = false;
    EXPECT_FALSE(DoesFileExist(L"C:\\Data\\locked.db"));
    EXPECT_FALSE(DoesDirExist(L"C:\\Data\\locked.db"));
}

TEST_F(ExistsTest, ThePathRuleRejectsBeforeTouchingAnything) {
    m().currentDirectory = L"C:\\Work";
    sim::AddDirectory(L"C:\\Work\\dir");
    sim::AddDirectory(L"C:\\dir");
    bManageFSRedir = true;
    sim::Make64Bit();
    for (const wchar_t* path : {L"", L"C", L"\\dir", L"dir", L"..\\dir", L"C/dir"}) {
        EXPECT_FALSE(DoesDirExist(path, true)) << path;
        EXPECT_FALSE(DoesFileExist(path, true)) << path;
    }
    EXPECT_TRUE(m().debugOutput.empty());
    EXPECT_EQ(m().wow64Disables, 0);
    // .\dir passes the rule and is tested against the current directory.
    EXPECT_TRUE(DoesDirExist(L".\\dir"));
}

TEST_F(ExistsTest, TracesAfterTheResultIsKnown) {
    sim::AddDirectory(L"C:\\Data");
    sim::AddFile(L"C:\\Data\\a.txt");
    DoesDirExist(L"C:\\Data", true);
    DoesFileExist(L"C:\\Data\\a.txt", true);
    DoesFileExist(L"C:\\Data\\b.txt", true);
    EXPECT_EQ(m().debugOutput, (std::vector<std::wstring>{
                                   L"\tCommonModule\\DoesDirExist: ",
                                   L"\t\t- Passed: C:\\Data",
                                   L"\t\t- Returns: True",
                                   L"\tCommonModule\\DoesFileExist: 1",
                                   L"\t\t- Passed: C:\\Data\\a.txt",
                                   L"\t\t- Returns: True",
                                   L"\tCommonModule\\DoesFileExist: -1",
                                   L"\t\t- Passed: C:\\Data\\b.txt",
                                   L"\t\t- Returns: False",
                               }));
}

TEST_F(ExistsTest, OnWow64TheNativeSystemDirectoryIsTested) {
    sim::Make64Bit();
    sim::AddFile(L"C:\\Windows\\System32\\wbem\\native-only.dll");
    bManageFSRedir = true;
    EXPECT_TRUE(DoesFileExist(L"C:\\Windows\\System32\\wbem\\native-only.dll"));
    EXPECT_TRUE(DoesDirExist(L"C:\\Windows\\System32\\wbem"));
    EXPECT_FALSE(m().redirectionDisabled) << "switched back on after each test";

    bManageFSRedir = false;  // without the switch, WOW64 shows SysWOW64
    EXPECT_FALSE(DoesFileExist(L"C:\\Windows\\System32\\wbem\\native-only.dll"));
}

TEST_F(ExistsTest, AnInnerTestEndsTheOuterBracket) {
    sim::Make64Bit();
    bManageFSRedir = true;
    DisableFSRedir();
    DoesFileExist(L"C:\\Windows\\System32\\cmd.exe");
    EXPECT_FALSE(bFSRedirDisabled);
    EXPECT_FALSE(m().redirectionDisabled);
}

}  // namespace
