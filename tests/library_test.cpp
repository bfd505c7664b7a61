// The utility library: trace, paths and pauses, redirection, existence
// checks and the file search.
#include "common/exists.h"
#include "common/findfiles.h"
#include "common/paths.h"
#include "common/redirection.h"
#include "common/trace.h"
#include "sim_fixture.h"

namespace {

using namespace CommonModule;
using Lines = std::vector<std::wstring>;

class LibraryTest : public SimTest {
protected:
    void On64BitWithTheSwitch() {
        sim::Make64Bit();
        bManageFSRedir = true;
    }
    int64_t PauseMs(double seconds) {
        const int64_t start = m().clockMs;
        Delay(seconds);
        return m().clockMs - start;
    }
};

TEST_F(LibraryTest, TraceLines) {
    DPrint(std::wstring(L"A"), int32_t{5}, true);
    DPrint();
    DPrint(L"a", nullptr, L"b");
    DPrint(L"caf\u00e9 \u4e2d");  // beyond the ANSI code page
    EXPECT_EQ(m().debugOutput, (Lines{L"\tA\t5\tTrue", L"", L"\ta\tb", L"\tcaf\u00e9 ?"}));
}

TEST_F(LibraryTest, PathsOfTheProgramAndOfFiles) {
    for (const auto& [exe, dir] : std::vector<std::pair<std::wstring, std::wstring>>{
             {L"C:\\Tools\\Corvane.exe", L"C:\\Tools\\"},
             {L"C:\\Corvane.exe", L"C:\\"},
             {L"\\\\server\\share\\Corvane.exe", L"\\\\server\\share\\"}}) {
        m().executablePath = exe;
        EXPECT_EQ(AppPath(), dir);
    }
    EXPECT_TRUE(m().debugOutput.empty());
    m().executablePath.clear();
    EXPECT_EQ(AppPath(), L"\\");
    ASSERT_EQ(m().debugOutput.size(), 1u);
    EXPECT_EQ(m().debugOutput[0].rfind(L"\tCommonModule\\AppPath VB ERROR: ", 0), 0u);

    EXPECT_EQ(StripPath(L"C:\\Windows\\System32\\wbem\\wbemtest.exe"), L"wbemtest.exe");
    EXPECT_EQ(StripPath(L"wbemtest.exe"), L"wbemtest.exe");
    EXPECT_EQ(StripPath(L"C:\\Windows\\"), L"");
}

TEST_F(LibraryTest, PausesEndAtTheFirstFullSecondPastTheDeadline) {
    struct Case {
        int startMs;
        double seconds;
        int64_t tookMs;
    };
    for (const Case& c : {Case{200, 0.5, 800}, Case{900, 0.5, 100}, Case{950, 0.5, 100},
                          Case{0, 0, 1000}, Case{300, 2, 2700}, Case{500, -1, 0}}) {
        m().SetTime(10, 0, 0, c.startMs);
        EXPECT_EQ(PauseMs(c.seconds), c.tookMs) << c.startMs << " + " << c.seconds;
    }
    m().sleeps.clear();
    m().dispatchCount = 0;
    m().SetTime(10, 0, 0, 500);
    Delay(0.5);
    EXPECT_EQ(m().sleeps, std::vector<uint32_t>(5, 100)) << "100 ms steps";
    EXPECT_EQ(m().dispatchCount, 5) << "the windows answer meanwhile";

    m().day = 31;  // across midnight and the year's end
    m().SetTime(23, 59, 59, 600);
    EXPECT_EQ(PauseMs(0.5), 400);
    EXPECT_DOUBLE_EQ(ToDays(2000, 1, 1, 12, 0, 0), 36526.5);
    EXPECT_TRUE(m().debugOutput.empty());
    EXPECT_EQ(PauseMs(1e12), 0);
    EXPECT_EQ(m().debugOutput, Lines{L"\tCommonModule\\Delay VB ERROR: 6 Overflow"});
}

TEST_F(LibraryTest, RedirectionIsSwitchedOnceAndRestoredWithTheFirstValue) {
    On64BitWithTheSwitch();
    RevertFSRedir();  // nothing to undo
    DisableFSRedir();
    const uintptr_t firstSaved = lOldFSRedirValue;
    DisableFSRedir();
    EXPECT_TRUE(m().redirectionDisabled);
    EXPECT_EQ(m().wow64Disables, 1) << "a second disable calls nothing";
    RevertFSRedir();
    RevertFSRedir();
    EXPECT_FALSE(m().redirectionDisabled);
    EXPECT_FALSE(bFSRedirDisabled);
    EXPECT_EQ(m().wow64Reverts, std::vector<uintptr_t>{firstSaved});
}

TEST_F(LibraryTest, RedirectionIsOnlyBookkeptWithoutTheSwitchOrOn32BitWindows) {
    On64BitWithTheSwitch();
    bManageFSRedir = false;
    DisableFSRedir();
    EXPECT_TRUE(bFSRedirDisabled);
    RevertFSRedir();
    bManageFSRedir = true;
    m().environment[L"ProgramFiles(x86)"] = L"";  // defined but empty: 32-bit
    DisableFSRedir();
    RevertFSRedir();
    EXPECT_EQ(m().wow64Disables, 0);
    EXPECT_TRUE(m().wow64Reverts.empty());

    m().environment[L"ProgramFiles(x86)"] = L"C:\\Program Files (x86)";
    m().systemMessages[127] = L"The specified procedure could not be found.";
    m().kernelHasWow64Functions = false;
    DisableFSRedir();
    EXPECT_FALSE(bFSRedirDisabled);
    RevertFSRedir();
    EXPECT_EQ(m().debugOutput,
              Lines{L"\tDisableFSRedir:  The specified procedure could not be found."});
}

TEST_F(LibraryTest, ExistenceOfDirectoriesAndFiles) {
    sim::AddFile(L"C:\\Data\\report.txt");
    sim::AddFile(L"C:\\Data\\locked.db").openable = false;
    struct Case {
        const wchar_t* path;
        bool dir, file;
    };
    for (const Case& c :
         {Case{L"C:\\Data", true, false}, Case{L"C:\\Data\\", true, false},
          Case{L"C:\\", true, false}, Case{L"C:", true, false},
          Case{L"C:\\Data\\report.txt", false, true}, Case{L"C:\\Data\\locked.db", false, false},
          Case{L"C:\\Data\\missing.txt", false, false}, Case{L"C:\\Missing", false, false}}) {
        EXPECT_EQ(DoesDirExist(c.path), c.dir) << c.path;
        EXPECT_EQ(DoesFileExist(c.path), c.file) << c.path;
    }
}

TEST_F(LibraryTest, ThePathRuleRejectsBeforeTouchingAnything) {
    On64BitWithTheSwitch();
    sim::AddDirectory(m().currentDirectory + L"\\dir");
    sim::AddDirectory(L"C:\\dir");
    for (const wchar_t* path : {L"", L"C", L"\\dir", L"dir", L"..\\dir", L"C/dir"}) {
        EXPECT_FALSE(DoesDirExist(path, true)) << path;
        EXPECT_FALSE(DoesFileExist(path, true)) << path;
    }
    EXPECT_TRUE(m().debugOutput.empty());
    EXPECT_EQ(m().wow64Disables, 0);
    EXPECT_TRUE(DoesDirExist(L".\\dir")) << "against the current directory";
}

TEST_F(LibraryTest, ExistenceTracesAfterTheResultIsKnown) {
    sim::AddFile(L"C:\\Data\\a.txt");
    DoesDirExist(L"C:\\Data", true);
    DoesFileExist(L"C:\\Data\\a.txt", true);
    DoesFileExist(L"C:\\Data\\b.txt", true);
    EXPECT_EQ(m().debugOutput, (Lines{L"\tCommonModule\\DoesDirExist: ", L"\t\t- Passed: C:\\Data",
                                      L"\t\t- Returns: True", L"\tCommonModule\\DoesFileExist: 1",
                                      L"\t\t- Passed: C:\\Data\\a.txt", L"\t\t- Returns: True",
                                      L"\tCommonModule\\DoesFileExist: -1",
                                      L"\t\t- Passed: C:\\Data\\b.txt", L"\t\t- Returns: False"}));
}

TEST_F(LibraryTest, OnWow64TheNativeSystemDirectoryIsTested) {
    On64BitWithTheSwitch();
    const std::wstring nativeOnly = L"C:\\Windows\\System32\\wbem\\native-only.dll";
    sim::AddFile(nativeOnly);
    DisableFSRedir();  // an outer bracket, ended by the inner test
    EXPECT_TRUE(DoesFileExist(nativeOnly));
    EXPECT_FALSE(bFSRedirDisabled);
    EXPECT_FALSE(m().redirectionDisabled);
    EXPECT_TRUE(DoesDirExist(L"C:\\Windows\\System32\\wbem"));
    bManageFSRedir = false;  // without the switch, WOW64 shows SysWOW64
    EXPECT_FALSE(DoesFileExist(nativeOnly));
}

class FindFilesTest : public LibraryTest {
protected:
    const std::wstring wbem = L"C:\\Windows\\System32\\wbem";
    FileList files;
};

TEST_F(FindFilesTest, PatternsInOrderAsFullPathsWithoutRepeats) {
    for (const wchar_t* name : {L"\\b.mof", L"\\a.mfl", L"\\c.MOF", L"\\sub\\d.mof"})
        sim::AddFile(wbem + name);
    FindFiles(wbem + L"\\", L"*.mof;*.mfl;b*.mof", files, false);
    EXPECT_EQ(files.Items(), (Lines{wbem + L"\\b.mof", wbem + L"\\c.MOF", wbem + L"\\a.mfl"}));
    EXPECT_EQ(files.Item(1), wbem + L"\\b.mof");
    EXPECT_EQ(m().debugOutput,
              (Lines{L"\tFindFiles:  File already in the list", L"\t\tRecurseDirs:  False",
                     L"\t\tPath:  " + wbem + L"\\", L"\t\tFile:  " + wbem + L"\\b.mof",
                     L"\t\tSpec:  b*.mof", L"\t\tbFSRedirDisabled:  False"}));

    m().debugOutput.clear();
    FindFiles(L"C:\\Nowhere", L"*.dll", files, false);
    EXPECT_EQ(files.Count(), 0u) << "the list is replaced";
    FindFiles(wbem, L"", files, false);
    EXPECT_EQ(files.Count(), 0u) << "no pattern, no match";
    EXPECT_TRUE(m().debugOutput.empty());
}

TEST_F(FindFilesTest, AFailingListingIsTracedAndTheSearchGoesOn) {
    sim::AddFile(wbem + L"\\one.dll");
    m().systemMessages[5] = L"Access is denied.";
    m().listingError = 5;
    FindFiles(wbem, L"*.dll;*.exe", files, false);
    EXPECT_EQ(files.Count(), 0u);
    ASSERT_EQ(m().debugOutput.size(), 12u) << "six lines for each pattern";
    EXPECT_EQ(m().debugOutput[0], L"\tFindFiles:  Access is denied.");
    EXPECT_EQ(m().debugOutput[10], L"\t\tSpec:  *.exe");
}

TEST_F(FindFilesTest, RecursionSkipsHiddenAndSystemDirectoriesOnly) {
    sim::AddFile(L"C:\\Tree\\top.txt").attributes = 0x2 | 0x4;
    for (const wchar_t* path :
         {L"C:\\Tree\\a\\one.txt", L"C:\\Tree\\a\\deep\\two.txt", L"C:\\Tree\\b\\three.txt",
          L"C:\\Tree\\b\\skip.log", L"C:\\Tree\\hidden\\no.txt", L"C:\\Tree\\system\\no.txt"})
        sim::AddFile(path);
    sim::AddDirectory(L"C:\\Tree\\hidden", 0x2);
    sim::AddDirectory(L"C:\\Tree\\system", 0x4);
    FindFiles(L"C:\\Tree", L"*.txt", files, true);
    EXPECT_EQ(files.Items(), (Lines{L"C:\\Tree\\top.txt", L"C:\\Tree\\a\\one.txt",
                                    L"C:\\Tree\\a\\deep\\two.txt", L"C:\\Tree\\b\\three.txt"}));
}

TEST_F(FindFilesTest, ListingsSeeTheNativeDirectoryAndDispatchMessages) {
    On64BitWithTheSwitch();
    sim::AddFile(wbem + L"\\native.dll");
    sim::AddFile(L"C:\\Windows\\SysWOW64\\wbem\\wow.dll");
    FindFiles(wbem, L"*.dll;*.exe", files, false);
    EXPECT_EQ(files.Items(), (Lines{wbem + L"\\native.dll", wbem + L"\\winmgmt.exe"}));
    EXPECT_FALSE(m().redirectionDisabled);
    EXPECT_EQ(m().dispatchCount, 2) << "once after each pattern";
}

TEST(FileListTest, UniqueWithoutRegardToCaseAcrossGrowth) {
    FileList list;
    EXPECT_TRUE(list.Add(L"C:\\A\\x.dll"));
    EXPECT_FALSE(list.Add(L"c:\\a\\X.DLL"));
    for (int i = 0; i < 1000; ++i) EXPECT_TRUE(list.Add(L"C:\\A\\f" + std::to_wstring(i)));
    EXPECT_FALSE(list.Add(L"C:\\a\\X.dll"));
    EXPECT_FALSE(list.Add(L"c:\\A\\F999"));
    EXPECT_EQ(list.Count(), 1001u);
    EXPECT_EQ(list.Item(1001), L"C:\\A\\f999");
}

}  // namespace
