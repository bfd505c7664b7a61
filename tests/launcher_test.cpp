// The program launcher and the quick repair that uses it.
#include "common/launcher.h"
#include "common/redirection.h"
#include "sim_fixture.h"

#include <algorithm>

namespace {

using CommonModule::ShellX;

class LauncherTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        m().systemMessages[2] = L"The system cannot find the file specified.";
    }
    const sim::StartedProcess& Only() {
        EXPECT_EQ(m().processes.size(), 1u);
        return m().processes.front();
    }
};

TEST_F(LauncherTest, WaitsForABareCommandAndReadsItsExitCode) {
    sim::FileEntry& cmd = sim::AddFile(L"C:\\Windows\\System32\\cmd.exe");
    cmd.runMs = 1000;
    cmd.exitCode = 7;
    const int64_t start = m().clockMs;
    m().messagesAtMs = {start + 250, start + 630};
    int32_t slot = -5;
    EXPECT_TRUE(ShellX(L"cmd.exe", L"/c net start winmgmt", true, 0, slot, false));
    EXPECT_EQ(Only().commandLine, L"cmd.exe /c net start winmgmt");
    EXPECT_EQ(Only().showWindow, 0);
    EXPECT_EQ(slot, 7);
    EXPECT_EQ(m().clockMs, start + 1000) << "back as the program ends";
    for (const int64_t at : {start + 250, start + 630}) {
        EXPECT_EQ(std::count(m().dispatchTimes.begin(), m().dispatchTimes.end(), at), 1)
            << "each message handled as it arrives";
    }
    EXPECT_TRUE(m().openHandles.empty());
    EXPECT_TRUE(m().debugOutput.empty());
}

TEST_F(LauncherTest, TheWaitEndsWithTheProgramWhateverItsExitCode) {
    sim::FileEntry& cmd = sim::AddFile(L"C:\\Windows\\System32\\cmd.exe");
    for (const uint32_t code : {0u, 3u, os::kStillActive}) {
        for (const int64_t runMs : {0, 450}) {
            cmd.runMs = runMs;
            const int64_t start = m().clockMs;
            int32_t slot = -1;
            EXPECT_TRUE(
                ShellX(L"cmd.exe", L"/c exit " + std::to_wstring(code), true, 0, slot, false));
            EXPECT_EQ(slot, static_cast<int32_t>(code));
            EXPECT_EQ(m().clockMs - start, runMs) << code;
        }
    }
}

TEST_F(LauncherTest, OnlyHiddenProgramsGetNoConsoleWindowAndNulInput) {
    int32_t slot = 0;
    for (const int style : {0, 1, 2}) ShellX(L"cmd.exe", L"/c ver", true, style, slot, false);
    ShellX(L"cmd.exe", L"/c ver", false, 0, slot, false);
    ASSERT_EQ(m().processes.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(m().processes[i].showWindow, static_cast<int>(i % 3));
        EXPECT_EQ(m().processes[i].detachedConsole, i % 3 == 0) << i;
    }
}

TEST_F(LauncherTest, AMissingProgramPathStartsNothing) {
    int32_t slot = 42;
    EXPECT_FALSE(
        ShellX(L"C:\\Windows\\System32\\wbem\\gone.exe", L"/regserver", true, 0, slot, false));
    EXPECT_TRUE(m().processes.empty());
    EXPECT_EQ(slot, 42);
    EXPECT_EQ(m().debugOutput,
              (std::vector<std::wstring>{
                  L"\tCommonModule\\ShellX FILE NOT FOUND",
                  L"\t\t- sPathAndFileName=C:\\Windows\\System32\\wbem\\gone.exe"}));
}

TEST_F(LauncherTest, APathWithABlankIsQuotedAndEmptyParametersAddNoBlank) {
    sim::AddFile(L"C:\\Program Files\\Tool\\tool.exe");
    int32_t slot = 0;
    EXPECT_TRUE(ShellX(L"C:\\Program Files\\Tool\\tool.exe", L"/x", true, 1, slot, false));
    EXPECT_TRUE(ShellX(L"C:\\Program Files\\Tool\\tool.exe", L"", true, 1, slot, false));
    ASSERT_EQ(m().processes.size(), 2u);
    EXPECT_EQ(m().processes[0].commandLine, L"\"C:\\Program Files\\Tool\\tool.exe\" /x");
    EXPECT_EQ(m().processes[1].commandLine, L"\"C:\\Program Files\\Tool\\tool.exe\"");
    EXPECT_EQ(m().processes[0].showWindow, 1);
}

TEST_F(LauncherTest, NoWaitReturnsAtOnceAndLeavesTheSlot) {
    sim::AddFile(L"C:\\Windows\\System32\\cmd.exe").runMs = 60000;
    int32_t slot = 9;
    EXPECT_TRUE(ShellX(L"cmd.exe", L"/c pause", false, 0, slot, false));
    EXPECT_EQ(slot, 9);
    EXPECT_TRUE(m().sleeps.empty());
    EXPECT_TRUE(m().openHandles.empty());
}

TEST_F(LauncherTest, AnUnknownBareNameTracesTheErrorAndTurnsRedirectionBackOn) {
    sim::Make64Bit();
    CommonModule::bManageFSRedir = true;
    int32_t slot = 0;
    EXPECT_FALSE(ShellX(L"nosuch.exe", L"/q", true, 0, slot, false));
    EXPECT_EQ(m().debugOutput,
              (std::vector<std::wstring>{
                  L"\tCommonModule\\ShellX VB ERROR: 2 The system cannot find the file specified.",
                  L"\t\t- sShell=nosuch.exe /q"}));
    EXPECT_FALSE(m().redirectionDisabled);
    EXPECT_FALSE(CommonModule::bFSRedirDisabled);
}

TEST_F(LauncherTest, AProcessThatCannotBeOpenedForTheWaitFails) {
    m().openProcessFails = true;
    int32_t slot = 4;
    EXPECT_FALSE(ShellX(L"cmd.exe", L"/c ver", true, 0, slot, false));
    EXPECT_EQ(slot, 4);
    EXPECT_EQ(m().debugOutput, std::vector<std::wstring>{L"\tShellX (Failed):  cmd.exe /c ver"});
    EXPECT_TRUE(m().openHandles.empty());
}

TEST_F(LauncherTest, OnWow64TheNativeProgramRunsWithRedirectionOff) {
    sim::Make64Bit();
    CommonModule::bManageFSRedir = true;
    int32_t slot = 0;
    EXPECT_TRUE(ShellX(L"C:\\Windows\\System32\\regsvr32.exe", L"/s x.dll", true, 0, slot, false));
    EXPECT_TRUE(ShellX(L"cmd.exe", L"/c ver", true, 0, slot, false));
    ASSERT_EQ(m().processes.size(), 2u);
    EXPECT_EQ(m().processes[0].program, L"C:\\Windows\\System32\\regsvr32.exe");
    EXPECT_EQ(m().processes[1].program, L"C:\\Windows\\System32\\cmd.exe");
    EXPECT_TRUE(m().processes[0].redirectionDisabled);
    EXPECT_FALSE(m().redirectionDisabled);
}

TEST_F(LauncherTest, APlantedCmdNextToCorvaneOrInTheCurrentDirectoryNeverRuns) {
    sim::AddFile(L"C:\\Tools\\cmd.exe");
    sim::AddFile(m().currentDirectory + L"\\rundll32.exe");
    int32_t slot = 0;
    ShellX(L"cmd.exe", L"/c ver", true, 0, slot, false);
    ShellX(L"rundll32.exe", L"x.dll,Entry", true, 0, slot, false);
    ASSERT_EQ(m().processes.size(), 2u);
    EXPECT_EQ(m().processes[0].program, L"C:\\Windows\\System32\\cmd.exe");
    EXPECT_EQ(m().processes[0].commandLine, L"cmd.exe /c ver") << "the command line is unchanged";
    EXPECT_EQ(m().processes[1].program, L"C:\\Windows\\System32\\rundll32.exe");
}

TEST_F(LauncherTest, ABareNameMissingFromTheSystemDirectoryUsesTheSearch) {
    sim::AddFile(L"C:\\Windows\\gpupdate.exe");
    int32_t slot = 0;
    EXPECT_TRUE(ShellX(L"gpupdate.exe", L"/force", true, 0, slot, false));
    EXPECT_EQ(Only().program, L"C:\\Windows\\gpupdate.exe");
    EXPECT_EQ(Only().applicationName, L"");
}

class SystemRunnerTest : public LauncherTest {
protected:
    void SetUp() override {
        LauncherTest::SetUp();
        sim::AddFile(L"C:\\Tools\\3rd Party Tools\\psexec.exe");
    }
};

TEST_F(SystemRunnerTest, WaitAndNoWaitCommandLinesAreHidden) {
    int32_t slot = 0;
    EXPECT_TRUE(ShellX(L"cmd.exe", L"/c whoami", true, 1, slot, true));
    EXPECT_TRUE(ShellX(L"cmd.exe", L"/c whoami", false, 1, slot, true));
    ASSERT_EQ(m().processes.size(), 2u);
    EXPECT_EQ(m().processes[0].commandLine,
              L"\"C:\\Tools\\3rd Party Tools\\psexec.exe\" -s -i cmd.exe /c whoami");
    EXPECT_EQ(m().processes[1].commandLine,
              L"\"C:\\Tools\\3rd Party Tools\\psexec.exe\" -s -i -d cmd.exe /c whoami");
    EXPECT_EQ(m().processes[0].showWindow, 0);
    EXPECT_EQ(m().processes[1].showWindow, 0);
    EXPECT_EQ(m().processes[0].program, L"C:\\Tools\\3rd Party Tools\\psexec.exe");
    EXPECT_TRUE(m().processes[0].detachedConsole);
}

TEST_F(SystemRunnerTest, MissingRunnerOrANetworkShareRunsNormally) {
    int32_t slot = 0;
    sim::Remove(L"C:\\Tools\\3rd Party Tools\\psexec.exe");
    EXPECT_TRUE(ShellX(L"cmd.exe", L"/c ver", true, 1, slot, true));
    m().executablePath = L"\\\\server\\share\\Corvane.exe";
    EXPECT_TRUE(ShellX(L"cmd.exe", L"/c ver", true, 1, slot, true));
    EXPECT_EQ(m().debugOutput,
              (std::vector<std::wstring>{
                  L"\tShellX:  Cannot find PSEXEC.EXE",
                  L"\tShellX:  Cannot run app as system with PSEXEC on a UNC path."}));
    ASSERT_EQ(m().processes.size(), 2u);
    EXPECT_EQ(m().processes[1].commandLine, L"cmd.exe /c ver");
    EXPECT_EQ(m().processes[1].showWindow, 1);
}

}  // namespace
