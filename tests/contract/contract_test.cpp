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

namespace {

class ContractTest : public ::testing::Test {
protected:
    void SetUp() override { platform::Prepare(); }
};

TEST_F(ContractTest, TheProcessAndItsEnvironment) {
    EXPECT_NE(os::EnvironmentValue(L"systemroot"), L"");
    EXPECT_EQ(os::EnvironmentValue(L"SYSTEMROOT"), os::EnvironmentValue(L"SystemRoot"));
    EXPECT_EQ(os::EnvironmentValue(L"CORVANE_NEVER_SET"), L"");

    const std::wstring path = os::ExecutablePath(), name = platform::ExecutableName();
    ASSERT_GT(path.size(), name.size() + 3);
    EXPECT_EQ(path.substr(1, 2), L":\\");
    EXPECT_EQ(path.substr(path.size() - name.size()), name);

    const std::wstring dir = os::SystemDirectory();
    EXPECT_NE(dir.back(), L'\\');
    EXPECT_NE(os::OpenFileExists(dir + L"\\cmd.exe"), -1);

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

TEST_F(ContractTest, SystemMessagesAreOneLineWithItsLineEnd) {
    // File not found, access denied, invalid parameter, privilege not held.
    for (const uint32_t code : {2u, 5u, 87u, 1314u}) {
        const std::wstring text = ShutDownMod::ApiErrorText(code);
        ASSERT_GT(text.size(), 2u) << code;
        EXPECT_EQ(text.find(L"\r\n"), text.size() - 2) << code;
    }
    EXPECT_EQ(os::FormatSystemMessage(0x2000FFFFu), L"") << "no text for an unknown code";
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
    const int dpi = platform::ScreenDpi();  // twips at the screen's DPI
    EXPECT_EQ(view.clientWidth, layout.clientWidthTwips * dpi / 1440);
    EXPECT_EQ(view.clientHeight, layout.clientHeightTwips * dpi / 1440);

    os::StatusWindowUnload();
    EXPECT_FALSE(platform::StatusWindow().exists);
    os::StatusWindowSetLabel(L"late");  // goes nowhere, fails nothing
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

    CommonModule::bManageFSRedir = true;  // the library's own bracket
    EXPECT_TRUE(CommonModule::DoesFileExist(path));
    EXPECT_FALSE(CommonModule::bFSRedirDisabled);
    CommonModule::bManageFSRedir = false;
    EXPECT_FALSE(CommonModule::DoesFileExist(path));
    platform::RemoveNativeSystemFile(L"corvane-native-only.txt");
}

TEST_F(ContractTest, AStartedProcessIsAwaitedAndItsExitCodeRead) {
    // 259 is STILL_ACTIVE's value: only the signalled handle tells the end.
    const os::CreatedProcess created = os::LaunchProcess(L"", L"cmd.exe /c exit 259", 0, true);
    ASSERT_EQ(created.error, 0u);
    uint32_t error = 0;
    const os::Handle process = os::OpenProcess(os::kProcessQueryInformation | os::kSynchronize,
                                               false, created.processId, error);
    ASSERT_NE(process, 0u) << error;
    os::WaitResult woke = os::WaitResult::TimedOut;
    for (int wait = 0;
         wait < 100 && (woke == os::WaitResult::TimedOut || woke == os::WaitResult::Input);
         ++wait) {
        os::DispatchPendingMessages();
        woke = os::WaitForObjectOrInput(process, 100);
    }
    EXPECT_EQ(woke, os::WaitResult::Signalled);
    uint32_t exitCode = 0;
    EXPECT_TRUE(os::GetExitCodeProcess(process, exitCode));
    EXPECT_EQ(exitCode, 259u);
    // Windows refuses a wait on a handle without SYNCHRONIZE access.
    const os::Handle queryOnly =
        os::OpenProcess(os::kProcessQueryInformation, false, created.processId, error);
    EXPECT_EQ(os::WaitForObjectOrInput(queryOnly, 0), os::WaitResult::Failed);
    os::CloseHandle(queryOnly);
    os::CloseHandle(process);
    os::CloseHandle(created.process);

    const os::CreatedProcess unknown = os::LaunchProcess(L"", L"corvane-no-such.exe /x", 0);
    EXPECT_EQ(unknown.error, 2u);  // ERROR_FILE_NOT_FOUND
    EXPECT_EQ(unknown.process, 0u);
}

TEST_F(ContractTest, ShellXQuotesAPathWithABlankAndPassesTheWindowStyle) {
    const std::wstring dir = platform::ScratchDirectory() + L"\\with blank";
    platform::CreateDirectoryAt(dir);
    const std::wstring recorder = platform::RecorderAt(dir);
    int32_t slot = -1;
    EXPECT_TRUE(CommonModule::ShellX(recorder, L"hidden", true, 0, slot, false));
    EXPECT_EQ(slot, 0);
    EXPECT_TRUE(CommonModule::ShellX(recorder, L"normal", true, 1, slot, false));
    EXPECT_EQ(platform::RecordedStarts(recorder),
              L"\"" + recorder + L"\" hidden|show=0\n\"" + recorder + L"\" normal|show=1\n");
    EXPECT_TRUE(CommonModule::ShellX(L"cmd.exe", L"/c exit 259", true, 0, slot, false));
    EXPECT_EQ(slot, 259);
}

TEST_F(ContractTest, TheShellStartsAProgramWithConsent) {
    const std::wstring recorder = platform::RecorderAt(platform::ScratchDirectory());
    const os::CallResult started = os::ShellExecuteWithVerb(L"runas", recorder, L"", 2);
    ASSERT_TRUE(started.ok) << started.lastError;
    // The call returns once the program is started, not when it has run.
    for (int i = 0; i < 100 && platform::RecordedStarts(recorder).empty(); ++i) os::Sleep(100);
    EXPECT_EQ(platform::RecordedStarts(recorder), L"\"" + recorder + L"\"|show=2\n");
}

TEST_F(ContractTest, TheShutdownPrivilegeIsEnabledOnlyWithAdjustAccess) {
    os::Luid unknown;
    const os::CallResult lookup = os::LookupPrivilegeValueA(L"SeCorvanePrivilege", unknown);
    EXPECT_FALSE(lookup.ok);
    EXPECT_EQ(lookup.lastError, 1313u);  // ERROR_NO_SUCH_PRIVILEGE
    os::TokenPrivilege shutdown;
    ASSERT_TRUE(os::LookupPrivilegeValueA(L"SeShutdownPrivilege", shutdown.luid).ok);
    os::Handle process = 0;
    ASSERT_TRUE(os::GetCurrentProcess(process).ok);
    EXPECT_NE(process, 0u);

    shutdown.attributes = 2;  // SE_PRIVILEGE_ENABLED
    os::TokenPrivilege previous;
    os::Handle queryOnly = 0;  // TOKEN_QUERY alone may not adjust
    ASSERT_TRUE(os::OpenProcessToken(process, 0x8, queryOnly).ok);
    const os::CallResult refused = os::AdjustTokenPrivileges(queryOnly, false, shutdown, &previous);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.lastError, 5u);  // ERROR_ACCESS_DENIED
    os::CloseHandle(queryOnly);

    os::Handle token = 0;  // TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, as restarting opens it
    ASSERT_TRUE(os::OpenProcessToken(process, 0x28, token).ok);
    EXPECT_TRUE(os::AdjustTokenPrivileges(token, false, shutdown, nullptr).ok);
    shutdown.attributes = 0;  // and off again: the previous state says it was on
    EXPECT_TRUE(os::AdjustTokenPrivileges(token, false, shutdown, &previous).ok);
    EXPECT_EQ(previous.attributes & 2, 2u);
    os::CloseHandle(token);
}

TEST_F(ContractTest, RegistryKeysOfTheLocalMachine) {
    EXPECT_TRUE(os::RegistryKeyExists(L"SYSTEM\\CurrentControlSet\\Control"));
    EXPECT_FALSE(os::RegistryKeyExists(L"SYSTEM\\CurrentControlSet\\Control\\MiniNT"));
}

}  // namespace
