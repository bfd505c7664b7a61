// Restarting Windows: flags, the shutdown privilege, the platform test, the
// raised errors, and the command-line fallback.
#include "shutdown/restart.h"
#include "app/workflow.h"
#include "sim_fixture.h"

#include <algorithm>
#include <functional>

namespace {

using ShutDownMod::ShutdownError;
using sim::FailsWith;

constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kShutdownInProgress = 1115;
constexpr uint32_t kCodeWithoutText = 0x2000FFFF;
const std::wstring kMiniNT = L"SYSTEM\\CurrentControlSet\\Control\\MiniNT";

class RestartTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        auto& text = m().systemMessages;
        text[kAccessDenied] = L"Access is denied.";
        text[6] = L"The handle is invalid.";
        text[1313] = L"A specified privilege does not exist.";
        text[1314] = L"A required privilege is not held by the client.";
        text[kShutdownInProgress] = L"A system shutdown is in progress.";
    }
    sim::ShutdownState& s() { return m().shutdown; }

    ShutdownError RaisedBy(const std::function<void()>& call) {
        try {
            call();
        } catch (const ShutdownError& error) {
            return error;
        }
        ADD_FAILURE() << "no error was raised";
        return ShutdownError(0, L"", L"");
    }
    long CallsOf(const std::string& name) {
        return std::count(s().calls.begin(), s().calls.end(), name);
    }
    std::vector<uint32_t> ExitWindowsFlags() {
        std::vector<uint32_t> flags;
        for (const auto& request : s().exitWindowsRequests) flags.push_back(request.flags);
        return flags;
    }
};

TEST_F(RestartTest, FlagsOutsideZeroToThirtyOneAreRejectedBeforeAnyCall) {
    for (const int32_t flags : {-1, 32}) {
        const ShutdownError error = RaisedBy([&] { ShutDownMod::ShutdownSystem(flags); });
        EXPECT_EQ(error.number, 0x8004062Fu);
        EXPECT_EQ(error.source, L"Corvane.mShutDown");
        EXPECT_EQ(error.description,
                  L"Invalid parameter to ShutdownSystem: " + std::to_wstring(flags));
    }
    EXPECT_TRUE(s().calls.empty());
    EXPECT_TRUE(ShutDownMod::ShutdownSystem(0));
    EXPECT_TRUE(ShutDownMod::ShutdownSystem(31));
    EXPECT_EQ(ExitWindowsFlags(), (std::vector<uint32_t>{0, 31}));
    for (const auto& request : s().exitWindowsRequests) EXPECT_EQ(request.reason, 0xFFFFFFFFu);
}

TEST_F(RestartTest, OnNtThePrivilegeIsEnabledAndTheTokenClosedBeforeExitWindows) {
    EXPECT_TRUE(ShutDownMod::ShutdownSystem(6));
    EXPECT_EQ(s().calls,
              (std::vector<std::string>{"GetVersionExA", "LookupPrivilegeValueA",
                                        "GetCurrentProcess", "OpenProcessToken",
                                        "AdjustTokenPrivileges", "CloseHandle", "ExitWindowsEx"}));
    EXPECT_TRUE(s().shutdownPrivilegeEnabled);
    ShutDownMod::ShutdownSystem(2);
    EXPECT_EQ(CallsOf("GetVersionExA"), 1) << "a known platform is not asked again";
}

TEST_F(RestartTest, OffTheNtFamilyNoTokenIsTouched) {
    s().platformId = 1;
    EXPECT_TRUE(ShutDownMod::ShutdownSystem(2));
    EXPECT_EQ(s().calls, (std::vector<std::string>{"GetVersionExA", "ExitWindowsEx"}));
}

TEST_F(RestartTest, AFailedVersionQueryReadsAsNotNtAndIsAskedAgain) {
    s().versionQuery = FailsWith(kAccessDenied);
    EXPECT_FALSE(ShutDownMod::IsWindowsNT());
    EXPECT_FALSE(ShutDownMod::IsWindowsNT());
    s().versionQuery = sim::Failure{};
    EXPECT_TRUE(ShutDownMod::IsWindowsNT());
    EXPECT_TRUE(ShutDownMod::IsWindowsNT());
    EXPECT_EQ(CallsOf("GetVersionExA"), 3);
}

TEST_F(RestartTest, EachFailingStepRaisesItsNumberAndText) {
    const std::wstring noPrivileges =
        L"Can't enable shutdown: You do not have the privileges to shutdown this system. [";
    struct Step {
        const char* name;
        std::function<void(sim::ShutdownState&)> arrange;
        uint32_t number;
        std::wstring description;
    };
    const std::vector<Step> steps = {
        {"lookup", [](auto& st) { st.privilegeLookup = FailsWith(1313); }, 0x8004062C,
         L"Can't enable shutdown: Can't find the SE_SHUTDOWN_NAME privilege value."
         L"[A specified privilege does not exist.\r\n]"},
        {"process", [](auto& st) { st.currentProcess = FailsWith(6); }, 0x8004062D,
         L"Can't enable shutdown: Can't determine the current process. "
         L"[The handle is invalid.\r\n]"},
        {"token open", [](auto& st) { st.tokenOpen = FailsWith(kAccessDenied); }, 0x8004062E,
         noPrivileges + L"Access is denied.\r\n]"},
        {"adjust", [](auto& st) { st.tokenAdjust = FailsWith(kCodeWithoutText); }, 0x8004062E,
         noPrivileges + L"]"},
        {"not held", [](auto& st) { st.holdsShutdownPrivilege = false; }, 0x8004062B,
         L"ShutdownSystem failed: A required privilege is not held by the client.\r\n"},
        {"exit windows", [](auto& st) { st.exitWindows = FailsWith(kShutdownInProgress); },
         0x8004062B, L"ShutdownSystem failed: A system shutdown is in progress.\r\n"},
        {"exit windows, no text", [](auto& st) { st.exitWindows = FailsWith(kCodeWithoutText); },
         0x8004062B, L"ShutdownSystem failed: "},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        SetUp();
        step.arrange(s());
        const ShutdownError error = RaisedBy([] { ShutDownMod::ShutdownSystem(6); });
        EXPECT_EQ(error.number, step.number);
        EXPECT_EQ(error.description, step.description);
        EXPECT_EQ(CallsOf("ExitWindowsEx"), step.number == 0x8004062B ? 1 : 0);
    }
    m().executablePath = L"D:\\My.Tools\\corvane.v2.exe";
    EXPECT_EQ(RaisedBy([] { ShutDownMod::ShutdownSystem(2); }).source, L"corvane.v2.mShutDown");
}

TEST_F(RestartTest, TheFallbackRunsOnlyWhenWindowsRefusesAndFromTheSystemDirectory) {
    sim::AddFile(L"C:\\Tools\\shutdown.exe");  // planted beside Corvane.exe
    sim::AddFile(m().currentDirectory + L"\\shutdown.exe");
    sim::AddRegistryKey(kMiniNT);  // ignored while Windows accepts
    ShutDownMod::RestartComputer(true);
    EXPECT_TRUE(m().processes.empty());

    m().registry.keys.clear();
    s().exitWindows = FailsWith(kShutdownInProgress);
    ShutDownMod::RestartComputer(true);
    ShutDownMod::RestartComputer(false);
    s().exitWindows = sim::Failure{};
    s().tokenOpen = FailsWith(kAccessDenied);  // refused before ExitWindowsEx
    ShutDownMod::RestartComputer(true);
    EXPECT_EQ(ExitWindowsFlags(), (std::vector<uint32_t>{6, 6, 2}));
    const std::wstring shutdown = L"C:\\Windows\\System32\\shutdown.exe|";
    EXPECT_EQ(Ran(), (std::vector<std::wstring>{shutdown + L"shutdown.exe -r -t 0 -f|2",
                                                shutdown + L"shutdown.exe -r -t 0|2",
                                                shutdown + L"shutdown.exe -r -t 0 -f|2"}));
}

TEST_F(RestartTest, WindowsPeRestartsWithWpeutilOnlyWhenItsKeyExists) {
    s().exitWindows = FailsWith(kShutdownInProgress);
    sim::AddFile(L"C:\\Windows\\System32\\wpeutil.exe");
    sim::AddRegistryKey(L"SYSTEM\\CurrentControlSet\\Control");
    ShutDownMod::RestartComputer(true);
    sim::AddRegistryKey(kMiniNT);
    ShutDownMod::RestartComputer(false);
    EXPECT_EQ(Ran(), (std::vector<std::wstring>{
                         L"C:\\Windows\\System32\\shutdown.exe|shutdown.exe -r -t 0 -f|2",
                         L"C:\\Windows\\System32\\wpeutil.exe|wpeutil.exe Reboot|2"}));
}

TEST_F(RestartTest, AFallbackThatCannotStartLeavesTheCallerRunning) {
    s().exitWindows = FailsWith(kShutdownInProgress);
    sim::Remove(L"C:\\Windows\\System32\\shutdown.exe");
    EXPECT_NO_THROW(ShutDownMod::RestartComputer(true));
    EXPECT_TRUE(m().processes.empty());
}

}  // namespace
