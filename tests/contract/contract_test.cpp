// What the seam's functions do, checked against both implementations: the
// simulated machine natively and Windows itself under Wine.
#include "common/exists.h"
#include "common/launcher.h"
#include "common/redirection.h"
#include "contract/platform.h"
#include "os/os.h"
#include "shutdown/restart.h"
#include "ui/status_window.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class ContractTest : public ::testing::Test {
protected:
    void SetUp() override { platform::Prepare(); }
};

TEST_F(ContractTest, EnvironmentNamesIgnoreCaseAndUnsetReadsEmpty) {
    platform::SetEnvironment(L"CORVANE_PROBE", L"C:\\Windows");
    EXPECT_EQ(os::EnvironmentValue(L"corvane_probe"), L"C:\\Windows");
    platform::UnsetEnvironment(L"CORVANE_PROBE");
    EXPECT_EQ(os::EnvironmentValue(L"Corvane_Probe"), L"");
}

TEST_F(ContractTest, ExecutablePathIsAFullPathToTheRunningProgram) {
    const std::wstring path = os::ExecutablePath();
    ASSERT_GE(path.size(), 3u);
    EXPECT_EQ(path[1], L':');
    EXPECT_EQ(path[2], L'\\');
    const std::wstring name = platform::ExecutableName();
    ASSERT_GE(path.size(), name.size());
    EXPECT_EQ(path.substr(path.size() - name.size()), name);
}

TEST_F(ContractTest, SystemMessagesKeepTheirLineEnd) {
    const std::wstring text = os::FormatSystemMessage(2);  // ERROR_FILE_NOT_FOUND
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
    EXPECT_EQ(os::FormatSystemMessage(0x2000FFFFu), L"") << "no text for an unknown code";
}

TEST_F(ContractTest, SleepMovesTheClockForward) {
    const os::LocalTime before = os::GetLocalTime();
    os::Sleep(1100);
    const os::LocalTime after = os::GetLocalTime();
    const auto seconds = [](const os::LocalTime& t) {
        return (t.hour * 60 + t.minute) * 60 + t.second;
    };
    EXPECT_GE(after.year, 2000);
    EXPECT_GE(seconds(after) - seconds(before), 1);
    EXPECT_LT(after.milliseconds, 1000);
}

TEST_F(ContractTest, AMissingWmiNamespaceRaisesWithACode) {
    os::WmiMethodCall call;
    call.nameSpace = L"root\\corvane_missing";
    call.className = L"SystemRestore";
    call.method = L"CreateRestorePoint";
    const os::WmiOutcome outcome = os::InvokeWmiMethod(call);
    EXPECT_EQ(outcome.status, os::WmiStatus::Raised);
    EXPECT_NE(outcome.errorCode, 0);
}

TEST_F(ContractTest, StatusWindowLifecycle) {
    const os::StatusWindowLayout layout = frmStatusWin::DesignLayout();
    os::StatusWindowShow(layout);
    os::StatusWindowSetCaption(L"Brindlemoor - Corvane");
    os::StatusWindowSetLabel(L"Errors encountered, Restarting System Restore...");
    os::DispatchPendingMessages();

    platform::WindowView view = platform::StatusWindow();
    ASSERT_TRUE(view.exists);
    EXPECT_TRUE(view.visible);
    EXPECT_EQ(view.caption, L"Brindlemoor - Corvane");
    EXPECT_EQ(view.label, L"Errors encountered, Restarting System Restore...");
    // Twips at the screen's DPI.
    const int dpi = platform::ScreenDpi();
    EXPECT_EQ(view.clientWidth, layout.clientWidthTwips * dpi / 1440);
    EXPECT_EQ(view.clientHeight, layout.clientHeightTwips * dpi / 1440);

    os::StatusWindowUnload();
    EXPECT_FALSE(platform::StatusWindow().exists);
    // After unloading, texts go nowhere and nothing fails.
    os::StatusWindowSetLabel(L"late");
    os::StatusWindowUnload();
    EXPECT_FALSE(platform::StatusWindow().exists);
}

TEST_F(ContractTest, OpenFileAndAttributesTellFilesFromDirectories) {
    const std::wstring dir = platform::ScratchDirectory() + L"\\probe dir";
    platform::CreateDirectoryAt(dir);
    platform::CreateFileAt(dir + L"\\file.txt");

    EXPECT_NE(os::OpenFileExists(dir + L"\\file.txt"), -1);
    EXPECT_EQ(os::OpenFileExists(dir), -1) << "a directory cannot be opened as a file";
    EXPECT_EQ(os::OpenFileExists(dir + L"\\missing.txt"), -1);

    uint32_t attributes = 0, error = 0;
    ASSERT_TRUE(os::QueryFileAttributes(dir, attributes, error));
    EXPECT_NE(attributes & os::kAttributeDirectory, 0u);
    ASSERT_TRUE(os::QueryFileAttributes(dir + L"\\file.txt", attributes, error));
    EXPECT_EQ(attributes & os::kAttributeDirectory, 0u);
    EXPECT_FALSE(os::QueryFileAttributes(dir + L"\\missing.txt", attributes, error));
    EXPECT_TRUE(error == 2 || error == 3) << error;  // file or path not found
}

TEST_F(ContractTest, TheSystemDirectoryHoldsTheCommandInterpreter) {
    const std::wstring dir = os::SystemDirectory();
    ASSERT_GT(dir.size(), 9u);
    EXPECT_NE(dir.back(), L'\\');
    EXPECT_NE(os::OpenFileExists(dir + L"\\cmd.exe"), -1);
}

TEST_F(ContractTest, ANativeOnlySystemFileIsSeenOnlyWithRedirectionOff) {
    if (!platform::Is64BitWindows()) GTEST_SKIP() << "no WOW64 redirection on 32-bit Windows";
    const std::wstring path = platform::PlaceNativeSystemFile(L"corvane-native-only.txt");
    EXPECT_EQ(os::OpenFileExists(path), -1) << "redirected to SysWOW64";
    uintptr_t old = 0;
    ASSERT_EQ(os::Wow64DisableFsRedirection(old), 0u);
    EXPECT_NE(os::OpenFileExists(path), -1);
    ASSERT_EQ(os::Wow64RevertFsRedirection(old), 0u);
    EXPECT_EQ(os::OpenFileExists(path), -1);
    // With redirection on, the native directory has an alias.
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    EXPECT_NE(os::OpenFileExists(folder.substr(0, folder.find_last_of(L'\\')) +
                                 L"\\Sysnative\\corvane-native-only.txt"),
              -1);

    // The library's own bracket, under the switch the workflow sets.
    CommonModule::bManageFSRedir = true;
    EXPECT_TRUE(CommonModule::DoesFileExist(path));
    EXPECT_FALSE(CommonModule::bFSRedirDisabled);
    CommonModule::bManageFSRedir = false;
    EXPECT_FALSE(CommonModule::DoesFileExist(path));
    platform::RemoveNativeSystemFile(L"corvane-native-only.txt");
}

TEST_F(ContractTest, AStartedProcessIsAwaitedAndItsExitCodeRead) {
    const os::CreatedProcess created = os::LaunchProcess(L"", L"cmd.exe /c exit 7", 0);
    ASSERT_EQ(created.error, 0u);
    ASSERT_NE(created.processId, 0u);
    uint32_t error = 0;
    const os::Handle process =
        os::OpenProcess(os::kProcessQueryInformation, false, created.processId, error);
    ASSERT_NE(process, 0u) << error;
    uint32_t exitCode = os::kStillActive;
    for (int poll = 0; poll < 100 && exitCode == os::kStillActive; ++poll) {
        ASSERT_TRUE(os::GetExitCodeProcess(process, exitCode));
        if (exitCode == os::kStillActive) os::Sleep(100);
    }
    EXPECT_EQ(exitCode, 7u);
    os::CloseHandle(process);
    os::CloseHandle(created.process);
}

TEST_F(ContractTest, AnUnknownProgramIsNotCreated) {
    const os::CreatedProcess created = os::LaunchProcess(L"", L"corvane-no-such-program.exe /x", 0);
    EXPECT_EQ(created.error, 2u);  // ERROR_FILE_NOT_FOUND
    EXPECT_EQ(created.process, 0u);
}

TEST_F(ContractTest, ShellXWaitsForAQuotedProgramWithABlankInItsPath) {
    const std::wstring dir = platform::ScratchDirectory() + L"\\with blank";
    platform::CreateDirectoryAt(dir);
    platform::CopyCommandInterpreter(dir + L"\\cmd.exe");
    int32_t slot = 0;
    EXPECT_TRUE(CommonModule::ShellX(dir + L"\\cmd.exe", L"/c exit 5", true, 0, slot, false));
    EXPECT_EQ(slot, 5);
    EXPECT_TRUE(CommonModule::ShellX(L"cmd.exe", L"/c exit 7", true, 0, slot, false));
    EXPECT_EQ(slot, 7);
}

TEST_F(ContractTest, TheShowWindowValueReachesTheStartedProgram) {
    const std::wstring dir = platform::ScratchDirectory();
    const std::wstring recorder = platform::RecorderAt(dir);
    int32_t slot = 0;
    EXPECT_TRUE(CommonModule::ShellX(recorder, L"hidden", true, 0, slot, false));
    EXPECT_TRUE(CommonModule::ShellX(recorder, L"normal", true, 1, slot, false));
    EXPECT_EQ(platform::RecordedStarts(recorder),
              recorder + L" hidden|show=0\n" + recorder + L" normal|show=1\n");
}

TEST_F(ContractTest, TheShellStartsAProgramWithConsent) {
    const std::wstring recorder = platform::RecorderAt(platform::ScratchDirectory());
    const os::CallResult started = os::ShellExecuteWithVerb(L"runas", recorder, L"", 2);
    ASSERT_TRUE(started.ok) << started.lastError;
    // The call returns once the program is started, not when it has run.
    for (int i = 0; i < 100 && platform::RecordedStarts(recorder).empty(); ++i) os::Sleep(100);
    EXPECT_EQ(platform::RecordedStarts(recorder), L"\"" + recorder + L"\"|show=2\n");
}

// ---- Token, privilege and shutdown. Nothing here asks Windows to shut down.

TEST_F(ContractTest, ApiErrorTextIsTheSystemTextWithItsLineEnd) {
    // File not found, access denied, invalid parameter, privilege not held.
    for (const uint32_t code : {2u, 5u, 87u, 1314u}) {
        SCOPED_TRACE(code);
        const std::wstring text = ShutDownMod::ApiErrorText(code);
        ASSERT_GT(text.size(), 2u);
        EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
        EXPECT_EQ(text.find(L"\r\n"), text.size() - 2) << "one line, as written";
    }
    EXPECT_EQ(ShutDownMod::ApiErrorText(0x2000FFFFu), L"");
}

TEST_F(ContractTest, ShutdownSystemRejectsInvalidFlagsWithoutSideEffects) {
    const bool enabledBefore = platform::ShutdownPrivilegeEnabled();
    std::wstring source = platform::ExecutableName();
    source = source.substr(0, source.rfind(L'.')) + L".mShutDown";
    for (const int32_t flags : {-1, 32}) {
        try {
            ShutDownMod::ShutdownSystem(flags);
            ADD_FAILURE() << "flags " << flags << " were accepted";
        } catch (const ShutDownMod::ShutdownError& error) {
            EXPECT_EQ(error.number, 0x8004062Fu);
            EXPECT_EQ(error.source, source);
            EXPECT_EQ(error.description,
                      L"Invalid parameter to ShutdownSystem: " + std::to_wstring(flags));
        }
    }
    EXPECT_EQ(platform::ShutdownPrivilegeEnabled(), enabledBefore);
}

TEST_F(ContractTest, ThePrivilegeIsFoundByNameAndUnknownNamesFail) {
    os::Luid luid;
    EXPECT_TRUE(os::LookupPrivilegeValueA(L"SeShutdownPrivilege", luid).ok);
    os::Luid untouched;
    const os::CallResult unknown = os::LookupPrivilegeValueA(L"SeCorvanePrivilege", untouched);
    EXPECT_FALSE(unknown.ok);
    EXPECT_EQ(unknown.lastError, 1313u);  // ERROR_NO_SUCH_PRIVILEGE
}

TEST_F(ContractTest, TheTokenEnablesThePrivilegeOnlyWithAdjustAccess) {
    os::TokenPrivilege shutdown;
    ASSERT_TRUE(os::LookupPrivilegeValueA(L"SeShutdownPrivilege", shutdown.luid).ok);
    shutdown.attributes = 2;  // SE_PRIVILEGE_ENABLED
    os::Handle process = 0;
    ASSERT_TRUE(os::GetCurrentProcess(process).ok);
    EXPECT_NE(process, 0u);

    // TOKEN_QUERY alone may not adjust.
    os::Handle queryOnly = 0;
    ASSERT_TRUE(os::OpenProcessToken(process, 0x8, queryOnly).ok);
    os::TokenPrivilege previous;
    const os::CallResult refused = os::AdjustTokenPrivileges(queryOnly, false, shutdown, &previous);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.lastError, 5u);  // ERROR_ACCESS_DENIED
    os::CloseHandle(queryOnly);

    // TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, as ShutDownMod opens it.
    os::Handle token = 0;
    ASSERT_TRUE(os::OpenProcessToken(process, 0x28, token).ok);
    EXPECT_TRUE(os::AdjustTokenPrivileges(token, false, shutdown, &previous).ok);
    EXPECT_TRUE(platform::ShutdownPrivilegeEnabled());
    os::CloseHandle(token);
}

TEST_F(ContractTest, RegistryKeysOfTheLocalMachine) {
    EXPECT_TRUE(os::RegistryKeyExists(L"SYSTEM\\CurrentControlSet\\Control"));
    EXPECT_FALSE(os::RegistryKeyExists(L"SYSTEM\\CurrentControlSet\\Control\\MiniNT"));
}

}  // namespace
