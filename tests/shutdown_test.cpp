// Restarting Windows: flags, the shutdown privilege, the platform test, the
// raised errors, and the command-line fallback.
#include "app/Module1.h"
#include "shutdown/ShutDownMod.h"
#include "sim_fixture.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

using ShutDownMod::ShutdownError;
using sim::FailsWith;

constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kInvalidHandle = 6;
constexpr uint32_t kNoSuchPrivilege = 1313;
constexpr uint32_t kPrivilegeNotHeld = 1314;
constexpr uint32_t kShutdownInProgress = 1115;
constexpr uint32_t kCodeWithoutText = 0x2000FFFF;

class ShutdownTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        auto& text = m().systemMessages;
        text[kAccessDenied] = L"Access is denied.";
        text[kInvalidHandle] = L"The handle is invalid.";
        text[kNoSuchPrivilege] = L"A specified privilege does not exist.";
        text[kPrivilegeNotHeld] = L"A required privilege is not held by the client.";
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
    void ExpectNoHandleLeft() {
        EXPECT_TRUE(s().openTokens.empty()) << "a token was left open";
        EXPECT_EQ(m().invalidCloses, 0) << "something was closed that was not open";
    }
};

// ---- ShutdownSystem ---------------------------------------------------------

TEST_F(ShutdownTest, FlagsOutsideZeroToThirtyOneAreRejectedBeforeAnyCall) {
    for (const int32_t flags : {-1, 32}) {
        const ShutdownError error = RaisedBy([&] { ShutDownMod::ShutdownSystem(flags); });
        EXPECT_EQ(error.number, 0x8004062Fu);
        EXPECT_EQ(error.source, L"Corvane.mShutDown");
        EXPECT_EQ(error.description,
                  L"Invalid parameter to ShutdownSystem: " + std::to_wstring(flags));
    }
    EXPECT_TRUE(s().calls.empty());
    EXPECT_FALSE(s().shutdownPrivilegeEnabled);
}

TEST_F(ShutdownTest, BoundaryFlagsReachExitWindowsUnchangedWithEveryReasonBit) {
    EXPECT_TRUE(ShutDownMod::ShutdownSystem(0));
    EXPECT_TRUE(ShutDownMod::ShutdownSystem(31));
    EXPECT_EQ(ExitWindowsFlags(), (std::vector<uint32_t>{0, 31}));
    for (const auto& request : s().exitWindowsRequests) {
        EXPECT_EQ(request.reason, 0xFFFFFFFFu);
        EXPECT_TRUE(request.accepted);
    }
}

TEST_F(ShutdownTest, OnNtThePrivilegeIsEnabledAndTheTokenClosedBeforeExitWindows) {
    EXPECT_TRUE(ShutDownMod::ShutdownSystem(6));
    EXPECT_EQ(s().calls,
              (std::vector<std::string>{"GetVersionExA", "LookupPrivilegeValueA",
                                        "GetCurrentProcess", "OpenProcessToken",
                                        "AdjustTokenPrivileges", "CloseHandle", "ExitWindowsEx"}));
    EXPECT_TRUE(s().shutdownPrivilegeEnabled);
    ASSERT_EQ(s().exitWindowsRequests.size(), 1u);
    EXPECT_TRUE(s().exitWindowsRequests[0].accepted);
    ExpectNoHandleLeft();
}

TEST_F(ShutdownTest, OffTheNtFamilyNoTokenIsTouched) {
    s().platformId = 1;
    EXPECT_TRUE(ShutDownMod::ShutdownSystem(2));
    EXPECT_EQ(s().calls, (std::vector<std::string>{"GetVersionExA", "ExitWindowsEx"}));
    EXPECT_FALSE(s().shutdownPrivilegeEnabled);
}

TEST_F(ShutdownTest, AnAccountWithoutThePrivilegeFailsAtExitWindows) {
    s().holdsShutdownPrivilege = false;
    EXPECT_TRUE(ShutDownMod::EnableShutdownPrivilege()) << "a partial assignment is success";
    const ShutdownError error = RaisedBy([] { ShutDownMod::ShutdownSystem(6); });
    EXPECT_EQ(error.number, 0x8004062Bu);
    EXPECT_EQ(error.description,
              L"ShutdownSystem failed: A required privilege is not held by the client.\r\n");
    ExpectNoHandleLeft();
}

// ---- The platform test ------------------------------------------------------

TEST_F(ShutdownTest, ASuccessfulVersionQueryIsNeverRepeated) {
    EXPECT_TRUE(ShutDownMod::IsWindowsNT());
    EXPECT_TRUE(ShutDownMod::IsWindowsNT());
    ShutDownMod::ShutdownSystem(2);
    EXPECT_EQ(CallsOf("GetVersionExA"), 1);
}

TEST_F(ShutdownTest, AFailedVersionQueryReadsAsNotNtAndIsAskedAgain) {
    s().versionQuery = FailsWith(kAccessDenied);
    EXPECT_FALSE(ShutDownMod::IsWindowsNT());
    EXPECT_FALSE(ShutDownMod::IsWindowsNT());
    EXPECT_EQ(CallsOf("GetVersionExA"), 2);

    s().versionQuery = sim::Failure{};
    EXPECT_TRUE(ShutDownMod::IsWindowsNT());
    EXPECT_TRUE(ShutDownMod::IsWindowsNT());
    EXPECT_EQ(CallsOf("GetVersionExA"), 3);
}

// ---- Raised errors ----------------------------------------------------------

struct FailingStep {
    const char* name;
    std::function<void(sim::ShutdownState&)> arrange;
    uint32_t number;
    std::wstring description;
    bool reachesExitWindows;
};

TEST_F(ShutdownTest, EachFailingCallRaisesItsNumberAndText) {
    const std::wstring noPrivileges =
        L"Can't enable shutdown: You do not have the privileges to shutdown this system. [";
    const std::vector<FailingStep> steps = {
        {"lookup", [](auto& st) { st.privilegeLookup = FailsWith(kNoSuchPrivilege); }, 0x8004062C,
         L"Can't enable shutdown: Can't find the SE_SHUTDOWN_NAME privilege value."
         L"[A specified privilege does not exist.\r\n]",
         false},
        {"process", [](auto& st) { st.currentProcess = FailsWith(kInvalidHandle); }, 0x8004062D,
         L"Can't enable shutdown: Can't determine the current process. "
         L"[The handle is invalid.\r\n]",
         false},
        {"token open", [](auto& st) { st.tokenOpen = FailsWith(kAccessDenied); }, 0x8004062E,
         noPrivileges + L"Access is denied.\r\n]", false},
        {"adjust", [](auto& st) { st.tokenAdjust = FailsWith(kAccessDenied); }, 0x8004062E,
         noPrivileges + L"Access is denied.\r\n]", false},
        {"adjust, no text", [](auto& st) { st.tokenAdjust = FailsWith(kCodeWithoutText); },
         0x8004062E, noPrivileges + L"]", false},
        {"exit windows", [](auto& st) { st.exitWindows = FailsWith(kShutdownInProgress); },
         0x8004062B, L"ShutdownSystem failed: A system shutdown is in progress.\r\n", true},
        {"exit windows, no text", [](auto& st) { st.exitWindows = FailsWith(kCodeWithoutText); },
         0x8004062B, L"ShutdownSystem failed: ", true},
    };
    for (const FailingStep& step : steps) {
        SCOPED_TRACE(step.name);
        SetUp();
        step.arrange(s());
        const ShutdownError error = RaisedBy([] { ShutDownMod::ShutdownSystem(6); });
        EXPECT_EQ(error.number, step.number);
        EXPECT_EQ(error.source, L"Corvane.mShutDown");
        EXPECT_EQ(error.description, step.description);
        EXPECT_EQ(CallsOf("ExitWindowsEx"), step.reachesExitWindows ? 1 : 0);
        ExpectNoHandleLeft();
    }
}

TEST_F(ShutdownTest, TheSourceIsTheProgramFileNameWithoutItsExtension) {
    s().exitWindows = FailsWith(kShutdownInProgress);
    const std::vector<std::pair<std::wstring, std::wstring>> cases = {
        {L"D:\\My.Tools\\corvane.v2.exe", L"corvane.v2.mShutDown"},
        {L"C:\\Tools\\Corvane", L"Corvane.mShutDown"},
    };
    for (const auto& [path, source] : cases) {
        m().executablePath = path;
        EXPECT_EQ(RaisedBy([] { ShutDownMod::ShutdownSystem(2); }).source, source);
    }
}

// ---- RestartComputer --------------------------------------------------------

TEST_F(ShutdownTest, AnAcceptedRestartStartsNoCommand) {
    m().shutdown.registryKeys.insert(L"SYSTEM\\CurrentControlSet\\Control\\MiniNT");
    ShutDownMod::RestartComputer(true);
    EXPECT_EQ(ExitWindowsFlags(), std::vector<uint32_t>{6});
    EXPECT_TRUE(m().processes.empty());
}

TEST_F(ShutdownTest, ARefusedRestartFallsBackToShutdownExeMinimised) {
    s().exitWindows = FailsWith(kShutdownInProgress);
    ShutDownMod::RestartComputer(true);
    ShutDownMod::RestartComputer(false);
    EXPECT_EQ(ExitWindowsFlags(), (std::vector<uint32_t>{6, 2}));
    ASSERT_EQ(m().processes.size(), 2u);
    EXPECT_EQ(m().processes[0].commandLine, L"shutdown.exe -r -t 0 -f");
    EXPECT_EQ(m().processes[1].commandLine, L"shutdown.exe -r -t 0");
    for (const auto& started : m().processes) {
        EXPECT_EQ(started.showWindow, 2);
        EXPECT_EQ(started.program, L"C:\\Windows\\System32\\shutdown.exe");
    }
    EXPECT_TRUE(m().openHandles.empty()) << "the started process is not kept";
}

TEST_F(ShutdownTest, APlantedShutdownExeNextToCorvaneNeverRuns) {
    s().exitWindows = FailsWith(kShutdownInProgress);
    sim::AddFile(L"C:\\Tools\\shutdown.exe");
    sim::AddFile(m().currentDirectory + L"\\shutdown.exe");
    ShutDownMod::RestartComputer(true);
    ASSERT_EQ(m().processes.size(), 1u);
    EXPECT_EQ(m().processes[0].program, L"C:\\Windows\\System32\\shutdown.exe");
    EXPECT_EQ(m().processes[0].commandLine, L"shutdown.exe -r -t 0 -f");
}

TEST_F(ShutdownTest, APrivilegeFailureFallsBackWithoutAskingExitWindows) {
    s().tokenOpen = FailsWith(kAccessDenied);
    ShutDownMod::RestartComputer(true);
    EXPECT_EQ(CallsOf("ExitWindowsEx"), 0);
    ASSERT_EQ(m().processes.size(), 1u);
    EXPECT_EQ(m().processes[0].commandLine, L"shutdown.exe -r -t 0 -f");
}

TEST_F(ShutdownTest, WindowsPeRestartsWithWpeutilOnlyWhenItsKeyExists) {
    s().exitWindows = FailsWith(kShutdownInProgress);
    sim::AddFile(L"C:\\Windows\\System32\\wpeutil.exe");
    s().registryKeys.insert(L"SYSTEM\\CurrentControlSet\\Control");
    ShutDownMod::RestartComputer(true);
    s().registryKeys.insert(L"SYSTEM\\CurrentControlSet\\Control\\MiniNT");
    ShutDownMod::RestartComputer(true);
    ShutDownMod::RestartComputer(false);
    ASSERT_EQ(m().processes.size(), 3u);
    EXPECT_EQ(m().processes[0].commandLine, L"shutdown.exe -r -t 0 -f");
    EXPECT_EQ(m().processes[1].commandLine, L"wpeutil.exe Reboot");
    EXPECT_EQ(m().processes[2].commandLine, L"wpeutil.exe Reboot");
    EXPECT_EQ(m().processes[2].showWindow, 2);
}

TEST_F(ShutdownTest, AFallbackThatCannotStartLeavesTheCallerRunning) {
    s().exitWindows = FailsWith(kShutdownInProgress);
    sim::Remove(L"C:\\Windows\\System32\\shutdown.exe");
    EXPECT_NO_THROW(ShutDownMod::RestartComputer(true));
    EXPECT_TRUE(m().processes.empty());
    ExpectNoHandleLeft();
}

TEST_F(ShutdownTest, AnsweringYesRestartsWithForce) {
    m().messageBoxAnswer = 6;
    m().wmiOutcomes.assign({sim::Returns(1), sim::Returns(1), sim::Returns(1)});
    Module1::Main();
    ASSERT_EQ(s().exitWindowsRequests.size(), 1u);
    EXPECT_EQ(s().exitWindowsRequests[0].flags, 6u);
    EXPECT_TRUE(s().exitWindowsRequests[0].accepted);
    for (const sim::StartedProcess& p : m().processes)
        EXPECT_EQ(p.commandLine.find(L"shutdown.exe"), std::wstring::npos) << "no fallback";
    EXPECT_TRUE(m().window.destroyed) << "the run ends while Windows restarts";
}

}  // namespace
