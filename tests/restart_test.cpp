// Restarting Windows: flags, the shutdown privilege, the platform test, the
// raised errors, and the command-line fallback.
#include "shutdown/restart.h"
#include "sim_fixture.h"

namespace {

using ShutDownMod::ShutdownError;
using sim::FailsWith;
using State = sim::ShutdownState;

constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kCodeWithoutText = 0x2000FFFF;

class RestartTest : public SimTest {
protected:
    State& s() { return m().shutdown; }

    ShutdownError RaisedBy(int32_t flags) {
        try {
            ShutDownMod::ShutdownSystem(flags);
        } catch (const ShutdownError& error) {
            return error;
        }
        ADD_FAILURE() << "no error was raised";
        return ShutdownError(0, L"", L"");
    }
};

TEST_F(RestartTest, FlagsThePlatformAndTheOrderOfTheCalls) {
    for (const int32_t flags : {-1, 32}) {
        const ShutdownError error = RaisedBy(flags);
        EXPECT_EQ(error.number, 0x8004062Fu);
        EXPECT_EQ(error.description,
                  L"Invalid parameter to ShutdownSystem: " + std::to_wstring(flags));
    }
    EXPECT_TRUE(s().calls.empty()) << "rejected before any call";
    s().versionQuery = FailsWith(kAccessDenied);
    EXPECT_FALSE(ShutDownMod::IsWindowsNT());
    s().versionQuery = sim::Failure{};  // asked again, then known
    EXPECT_TRUE(ShutDownMod::ShutdownSystem(0));
    EXPECT_TRUE(ShutDownMod::ShutdownSystem(31));
    EXPECT_EQ(s().calls,
              (std::vector<std::string>{
                  "GetVersionExA", "GetVersionExA", "LookupPrivilegeValueA", "GetCurrentProcess",
                  "OpenProcessToken", "AdjustTokenPrivileges", "CloseHandle", "ExitWindowsEx",
                  "LookupPrivilegeValueA", "GetCurrentProcess", "OpenProcessToken",
                  "AdjustTokenPrivileges", "CloseHandle", "ExitWindowsEx"}));

    SetUp();
    s().platformId = 1;  // Windows 9x
    EXPECT_TRUE(ShutDownMod::ShutdownSystem(2));
    EXPECT_EQ(s().calls, (std::vector<std::string>{"GetVersionExA", "ExitWindowsEx"}));
}

TEST_F(RestartTest, EachFailingStepRaisesItsNumberAndText) {
    const std::wstring noPrivileges =
        L"Can't enable shutdown: You do not have the privileges to shutdown this system. [";
    struct Step {
        sim::Failure State::*call;  // none: the account lacks the privilege
        uint32_t lastError, number;
        std::wstring description;
    };
    // clang-format off
    const Step steps[] = {
        {&State::privilegeLookup, 1313, 0x8004062C, L"Can't enable shutdown: Can't find the SE_SHUTDOWN_NAME privilege value.[A specified privilege does not exist.\r\n]"},
        {&State::currentProcess, 6, 0x8004062D, L"Can't enable shutdown: Can't determine the current process. [The handle is invalid.\r\n]"},
        {&State::tokenOpen, kAccessDenied, 0x8004062E, noPrivileges + L"Access is denied.\r\n]"},
        {&State::tokenAdjust, kCodeWithoutText, 0x8004062E, noPrivileges + L"]"},
        {nullptr, 0, 0x8004062B, L"ShutdownSystem failed: A required privilege is not held by the client.\r\n"},
        {&State::exitWindows, kCodeWithoutText, 0x8004062B, L"ShutdownSystem failed: "},
    };
    // clang-format on
    for (const Step& step : steps) {
        SCOPED_TRACE(&step - steps);
        SetUp();
        m().systemMessages = {{kAccessDenied, L"Access is denied."},
                              {6, L"The handle is invalid."},
                              {1313, L"A specified privilege does not exist."},
                              {1314, L"A required privilege is not held by the client."}};
        m().executablePath = L"D:\\My.Tools\\corvane.v2.exe";
        s().holdsShutdownPrivilege = step.call != nullptr;
        if (step.call) s().*step.call = FailsWith(step.lastError);
        const ShutdownError error = RaisedBy(6);
        EXPECT_EQ(error.number, step.number);
        EXPECT_EQ(error.source, L"corvane.v2.mShutDown");
        EXPECT_EQ(error.description, step.description);
    }
}

TEST_F(RestartTest, TheFallbackRunsOnlyWhenWindowsRefusesAndFromTheSystemDirectory) {
    const std::wstring wpeutil = L"C:\\Windows\\System32\\wpeutil.exe";
    sim::AddFile(L"C:\\Tools\\shutdown.exe");  // planted beside Corvane.exe
    sim::AddFile(m().currentDirectory + L"\\shutdown.exe");
    sim::AddFile(wpeutil);
    sim::AddRegistryKey(L"SYSTEM\\CurrentControlSet\\Control");
    s().exitWindows = FailsWith(1115);  // a shutdown in progress
    ShutDownMod::RestartComputer(true);
    ShutDownMod::RestartComputer(false);
    s().exitWindows = sim::Failure{};
    ShutDownMod::RestartComputer(true);                                  // accepted
    sim::AddRegistryKey(L"SYSTEM\\CurrentControlSet\\Control\\MiniNT");  // Windows PE
    s().tokenOpen = FailsWith(kAccessDenied);  // refused before ExitWindowsEx
    ShutDownMod::RestartComputer(false);
    sim::Remove(wpeutil);
    EXPECT_NO_THROW(ShutDownMod::RestartComputer(true)) << "nothing to start";
    const std::wstring shutdown = L"C:\\Windows\\System32\\shutdown.exe|shutdown.exe -r -t 0";
    EXPECT_EQ(Ran(), (std::vector<std::wstring>{shutdown + L" -f|2", shutdown + L"|2",
                                                wpeutil + L"|wpeutil.exe Reboot|2"}));
}

}  // namespace
