// Restarting Windows: flags, the shutdown privilege, the platform test, the
// raised errors, and the command-line fallback.
#include "restart/restart.h"
#include "sim_fixture.h"

namespace {

using restart::ShutdownError;
using sim::FailsWith;
using State = sim::ShutdownState;

constexpr uint32_t kAccessDenied = 5;

class RestartTest : public SimTest {
protected:
    State& s() { return m().shutdown; }

    ShutdownError RaisedBy(int32_t flags) {
        try {
            restart::ShutdownSystem(flags);
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
    EXPECT_FALSE(restart::IsWindowsNT());
    s().versionQuery = sim::Failure{};  // asked again, then known
    EXPECT_TRUE(restart::ShutdownSystem(0));
    EXPECT_TRUE(restart::ShutdownSystem(31));
    EXPECT_EQ(s().calls,
              (std::vector<std::string>{
                  "GetVersionExA", "GetVersionExA", "LookupPrivilegeValueA", "GetCurrentProcess",
                  "OpenProcessToken", "AdjustTokenPrivileges", "CloseHandle", "ExitWindowsEx",
                  "LookupPrivilegeValueA", "GetCurrentProcess", "OpenProcessToken",
                  "AdjustTokenPrivileges", "CloseHandle", "ExitWindowsEx"}));
}

// The error record's number names the failing step; its source, the
// program's name. (RestartComputer contains every raised error, so their
// descriptions reach nobody.)
TEST_F(RestartTest, EachFailingStepRaisesItsNumber) {
    struct Step {
        sim::Failure State::*call;  // none: the account lacks the privilege
        uint32_t number;
    };
    const Step steps[] = {{&State::privilegeLookup, 0x8004062C},
                          {&State::currentProcess, 0x8004062D},
                          {&State::tokenOpen, 0x8004062E},
                          {&State::tokenAdjust, 0x8004062E},
                          {nullptr, 0x8004062B},
                          {&State::exitWindows, 0x8004062B}};
    for (const Step& step : steps) {
        SCOPED_TRACE(&step - steps);
        SetUp();
        m().executablePath = L"D:\\My.Tools\\corvane.v2.exe";
        s().holdsShutdownPrivilege = step.call != nullptr;
        if (step.call) s().*step.call = FailsWith(kAccessDenied);
        const ShutdownError error = RaisedBy(6);
        EXPECT_EQ(error.number, step.number);
        EXPECT_EQ(error.source, L"corvane.v2.mShutDown");
    }
}

// InitiateSystemShutdownEx (which restarts whoever Corvane runs as), then
// ExitWindowsEx, both with a planned reason, then the system directory's
// command, the native one: each only when the one before failed. Nothing
// planted elsewhere is started.
TEST_F(RestartTest, EachWayToRestartOnlyAfterTheOneBeforeFailed) {
    sim::Make64Bit();
    base::manageRedirection = true;
    const std::wstring wpeutil = L"C:\\Windows\\System32\\wpeutil.exe";
    for (const wchar_t* planted : {L"C:\\Tools\\shutdown.exe", L"C:\\Tools\\wpeutil.exe"})
        sim::AddFile(planted);  // beside Corvane.exe
    sim::AddFile(m().currentDirectory + L"\\shutdown.exe");
    sim::AddFile(wpeutil);
    sim::AddRegistryKey(L"SYSTEM\\CurrentControlSet\\Control");
    s().initiateShutdown = s().exitWindows = FailsWith(1115);  // a shutdown in progress
    restart::RestartComputer(restart::Applications::ForcedClosed);
    restart::RestartComputer(restart::Applications::MayObject);
    s().exitWindows = sim::Failure{};
    restart::RestartComputer(restart::Applications::MayObject);
    s().initiateShutdown = sim::Failure{};
    restart::RestartComputer(restart::Applications::ForcedClosed);
    sim::AddRegistryKey(L"SYSTEM\\CurrentControlSet\\Control\\MiniNT");  // Windows PE
    s().tokenOpen = FailsWith(kAccessDenied);  // refused before either request
    restart::RestartComputer(restart::Applications::MayObject);
    sim::Remove(wpeutil);
    EXPECT_NO_THROW(restart::RestartComputer(restart::Applications::ForcedClosed))
        << "nothing to start";
    std::string requests;
    for (const sim::ShutdownRequest& request : s().shutdownRequests) {
        EXPECT_EQ(request.reason, 0x80000000u) << "other, planned";
        requests += request.call.substr(0, 4) + std::to_string(request.flags) +
                    (request.accepted ? "+ " : "- ");
    }
    EXPECT_EQ(requests, "Init6- Exit6- Init2- Exit2- Init2- Exit2+ Init6+ ");
    const std::wstring shutdown = L"C:\\Windows\\System32\\shutdown.exe|shutdown.exe -r -t 0";
    EXPECT_EQ(Ran(), (std::vector<std::wstring>{shutdown + L" -f|2", shutdown + L"|2",
                                                wpeutil + L"|wpeutil.exe Reboot|2"}));
    for (const sim::StartedProcess& p : m().processes) EXPECT_TRUE(p.redirectionDisabled);
}

}  // namespace
