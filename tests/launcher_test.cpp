// The program launcher.
#include "base/launcher.h"
#include "base/redirection.h"
#include "sim_fixture.h"

#include <algorithm>

namespace {

using LauncherTest = SimTest;

// One run of starts on 64-bit Windows, each checked for the redirection it
// leaves behind, then for everything that ran and was traced.
TEST_F(LauncherTest, WhatIsStartedWaitedForAndTraced) {
    sim::Make64Bit();
    base::manageRedirection = true;
    m().systemMessages = {{5, L"Access is denied."},
                          {740, L"The requested operation requires elevation."}};
    const std::wstring tool = L"C:\\Program Files\\Tool\\tool.exe";
    sim::AddFile(tool);
    for (const wchar_t* planted : {L"cmd.exe", L"reg.exe"})  // beside Corvane.exe, not in System32
        sim::AddFile(L"C:\\Tools\\" + std::wstring(planted));
    sim::AddFile(L"C:\\Windows\\System32\\blocked.exe").launchError = 5;
    // Refused for rights, but its start never asked the user's consent.
    sim::AddFile(L"C:\\Windows\\System32\\elevated.exe").launchError = 740;
    sim::AddFile(m().currentDirectory + L"\\rundll32.exe");
    sim::AddFile(L"C:\\Windows\\System32\\cmd.exe").runMs = 1000;
    const int64_t start = m().clockMs;
    m().messagesAtMs = {start + 250, start + 630};
    int32_t slot = 42;
    using base::Start;
    const auto run = [&](const std::wstring& program, const std::wstring& parameters, bool wait,
                         int style) {
        const Start how{wait ? Start::Wait::UntilItEnds : Start::Wait::No,
                        static_cast<Start::Window>(style), Start::Elevation::Never};
        const bool result = base::RunProgram(program, parameters, how, slot);
        EXPECT_FALSE(m().redirectionDisabled) << program << " " << parameters;
        return result;
    };

    EXPECT_TRUE(run(L"cmd.exe", L"/c exit 259", true, 0));
    EXPECT_EQ(slot, 259) << "an exit code like STILL_ACTIVE ends the wait too";
    EXPECT_EQ(m().clockMs - start, 1000) << "back as the program ends";
    for (const int64_t at : {start + 250, start + 630})
        EXPECT_EQ(std::count(m().dispatchTimes.begin(), m().dispatchTimes.end(), at), 1)
            << "each message handled as it arrives";
    slot = 42;
    EXPECT_TRUE(run(L"cmd.exe", L"/c ver", false, 0));
    EXPECT_EQ(slot, 42) << "no exit code without the wait";
    EXPECT_TRUE(run(L"cmd.exe", L"/c ver", true, 2));
    EXPECT_TRUE(run(tool, L"/x", true, 1));
    EXPECT_TRUE(run(tool, L"", true, 0));
    EXPECT_TRUE(run(L"rundll32.exe", L"x.dll,Entry", true, 1));
    EXPECT_FALSE(run(L"C:\\Windows\\System32\\wbem\\gone.exe", L"/regserver", true, 0));
    EXPECT_FALSE(run(L"reg.exe", L"query x", true, 0));
    EXPECT_FALSE(run(L"blocked.exe", L"/q", true, 0));
    EXPECT_FALSE(run(L"elevated.exe", L"/q", true, 0));
    m().openProcessFails = true;
    slot = 4;
    EXPECT_FALSE(run(L"cmd.exe", L"/c ver", true, 0));
    EXPECT_EQ(slot, 4);

    const std::wstring cmd = L"C:\\Windows\\System32\\cmd.exe|cmd.exe ";
    EXPECT_EQ(Ran(), (std::vector<std::wstring>{
                         cmd + L"/c exit 259|0|hidden", cmd + L"/c ver|0|hidden", cmd + L"/c ver|2",
                         tool + L"|\"" + tool + L"\" /x|1", tool + L"|\"" + tool + L"\"|0|hidden",
                         L"C:\\Windows\\System32\\rundll32.exe|rundll32.exe x.dll,Entry|1",
                         cmd + L"/c ver|0|hidden"}));
    EXPECT_EQ(
        m().debugOutput,
        (std::vector<std::wstring>{
            L"\tCommonModule\\ShellX FILE NOT FOUND",
            L"\t\t- sPathAndFileName=C:\\Windows\\System32\\wbem\\gone.exe",
            L"\tCommonModule\\ShellX FILE NOT FOUND", L"\t\t- sPathAndFileName=reg.exe",
            L"\tCommonModule\\ShellX VB ERROR: 5 Access is denied.", L"\t\t- sShell=blocked.exe /q",
            L"\tCommonModule\\ShellX VB ERROR: 740 The requested operation requires elevation.",
            L"\t\t- sShell=elevated.exe /q", L"\tShellX (Failed):  cmd.exe /c ver"}));
    for (const sim::StartedProcess& p : m().processes)
        EXPECT_TRUE(p.redirectionDisabled) << p.commandLine;
}

}  // namespace
