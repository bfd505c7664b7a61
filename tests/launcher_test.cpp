// The program launcher.
#include "common/launcher.h"
#include "common/redirection.h"
#include "sim_fixture.h"

#include <algorithm>

namespace {

using CommonModule::ShellX;
using Lines = std::vector<std::wstring>;

class LauncherTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        m().systemMessages[2] = L"The system cannot find the file specified.";
        sim::AddFile(L"C:\\Program Files\\Tool\\tool.exe");
        sim::AddFile(L"C:\\Windows\\gpupdate.exe");  // not in the system directory
        sim::AddFile(L"C:\\Tools\\cmd.exe");         // planted beside Corvane.exe
        sim::AddFile(m().currentDirectory + L"\\rundll32.exe");
    }
};

TEST_F(LauncherTest, WhatIsStartedAndWhatIsTraced) {
    const std::wstring cmd = L"C:\\Windows\\System32\\cmd.exe|cmd.exe ";
    const std::wstring tool = L"C:\\Program Files\\Tool\\tool.exe";
    struct Case {
        const wchar_t* program;
        const wchar_t* parameters;
        bool wait;
        int style;
        Lines started, trace;
        bool result;
    };
    // clang-format off
    const Case cases[] = {
        {L"cmd.exe", L"/c net start winmgmt", true, 0, {cmd + L"/c net start winmgmt|0|hidden"}, {}, true},
        {L"cmd.exe", L"/c ver", true, 1, {cmd + L"/c ver|1"}, {}, true},
        {L"cmd.exe", L"/c ver", true, 2, {cmd + L"/c ver|2"}, {}, true},
        {L"cmd.exe", L"/c ver", false, 0, {cmd + L"/c ver|0|hidden"}, {}, true},
        {tool.c_str(), L"/x", true, 1, {tool + L"|\"" + tool + L"\" /x|1"}, {}, true},
        {tool.c_str(), L"", true, 1, {tool + L"|\"" + tool + L"\"|1"}, {}, true},
        {L"rundll32.exe", L"x.dll,Entry", true, 1,
         {L"C:\\Windows\\System32\\rundll32.exe|rundll32.exe x.dll,Entry|1"}, {}, true},
        {L"gpupdate.exe", L"/force", true, 0, {L"C:\\Windows\\gpupdate.exe|gpupdate.exe /force|0|hidden"}, {}, true},
        {L"C:\\Windows\\System32\\wbem\\gone.exe", L"/regserver", true, 0, {},
         {L"\tCommonModule\\ShellX FILE NOT FOUND", L"\t\t- sPathAndFileName=C:\\Windows\\System32\\wbem\\gone.exe"}, false},
        {L"nosuch.exe", L"/q", true, 0, {},
         {L"\tCommonModule\\ShellX VB ERROR: 2 The system cannot find the file specified.", L"\t\t- sShell=nosuch.exe /q"}, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        SetUp();
        sim::Make64Bit();
        CommonModule::bManageFSRedir = true;
        int32_t slot = 42;
        EXPECT_EQ(ShellX(c.program, c.parameters, c.wait, c.style, slot, false), c.result);
        EXPECT_EQ(Ran(), c.started);
        EXPECT_EQ(m().debugOutput, c.trace);
        EXPECT_EQ(slot, c.wait && c.result ? 0 : 42) << "the slot, in wait mode only";
        EXPECT_TRUE(m().processes.empty() || m().processes[0].redirectionDisabled);
        EXPECT_FALSE(m().redirectionDisabled);
        EXPECT_FALSE(CommonModule::bFSRedirDisabled);
    }
}

TEST_F(LauncherTest, TheWaitEndsWithTheProgramWhateverItsExitCodeAndAnswersMessages) {
    sim::FileEntry& cmd = sim::AddFile(L"C:\\Windows\\System32\\cmd.exe");
    for (const uint32_t code : {0u, 3u, os::kStillActive}) {
        for (const int64_t runMs : {0, 1000}) {
            cmd.runMs = runMs;
            const int64_t start = m().clockMs;
            m().messagesAtMs = {start + 250, start + 630};
            m().dispatchTimes.clear();
            int32_t slot = -1;
            EXPECT_TRUE(
                ShellX(L"cmd.exe", L"/c exit " + std::to_wstring(code), true, 0, slot, false));
            EXPECT_EQ(slot, static_cast<int32_t>(code));
            EXPECT_EQ(m().clockMs - start, runMs) << "back as the program ends";
            for (const int64_t at : {start + 250, start + 630})
                EXPECT_EQ(std::count(m().dispatchTimes.begin(), m().dispatchTimes.end(), at),
                          runMs ? 1 : 0)
                    << "each message handled as it arrives";
        }
    }
}

TEST_F(LauncherTest, AProcessThatCannotBeOpenedForTheWaitFails) {
    m().openProcessFails = true;
    int32_t slot = 4;
    EXPECT_FALSE(ShellX(L"cmd.exe", L"/c ver", true, 0, slot, false));
    EXPECT_EQ(slot, 4);
    EXPECT_EQ(m().debugOutput, Lines{L"\tShellX (Failed):  cmd.exe /c ver"});
}

TEST_F(LauncherTest, TheSystemRunnerWhereItCanBeUsed) {
    const std::wstring runner = L"C:\\Tools\\3rd Party Tools\\psexec.exe";
    sim::AddFile(runner);
    int32_t slot = 0;
    EXPECT_TRUE(ShellX(L"cmd.exe", L"/c whoami", true, 1, slot, true));
    EXPECT_TRUE(ShellX(L"cmd.exe", L"/c whoami", false, 1, slot, true));
    sim::Remove(runner);
    EXPECT_TRUE(ShellX(L"cmd.exe", L"/c ver", true, 1, slot, true));
    m().executablePath = L"\\\\server\\share\\Corvane.exe";
    EXPECT_TRUE(ShellX(L"cmd.exe", L"/c ver", true, 1, slot, true));
    EXPECT_EQ(Ran(), (Lines{runner + L"|\"" + runner + L"\" -s -i cmd.exe /c whoami|0|hidden",
                            runner + L"|\"" + runner + L"\" -s -i -d cmd.exe /c whoami|0|hidden",
                            L"C:\\Windows\\System32\\cmd.exe|cmd.exe /c ver|1",
                            L"C:\\Windows\\System32\\cmd.exe|cmd.exe /c ver|1"}));
    EXPECT_EQ(m().debugOutput,
              (Lines{L"\tShellX:  Cannot find PSEXEC.EXE",
                     L"\tShellX:  Cannot run app as system with PSEXEC on a UNC path."}));
}

}  // namespace
