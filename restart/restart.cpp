#include "restart/restart.h"

#include "base/handle.h"
#include "base/launcher.h"
#include "os/os.h"

#include <utility>

namespace restart {

bool platformKnown = false;
bool platformIsNT = false;

namespace {

constexpr uint32_t kErrShutdownFailed = 0x8004062B;
constexpr uint32_t kErrPrivilegeNotFound = 0x8004062C;
constexpr uint32_t kErrNoCurrentProcess = 0x8004062D;
constexpr uint32_t kErrNoPrivileges = 0x8004062E;
constexpr uint32_t kErrInvalidFlags = 0x8004062F;

const wchar_t kNoPrivilegesText[] =
    L"Can't enable shutdown: You do not have the privileges to shutdown this system. ";

constexpr uint32_t kTokenAdjustPrivileges = 0x20;
constexpr uint32_t kTokenQuery = 0x8;
constexpr uint32_t kSePrivilegeEnabled = 2;
constexpr uint32_t kPlatformWin32NT = 2;
// SHTDN_REASON_MAJOR_OTHER | SHTDN_REASON_MINOR_OTHER |
// SHTDN_REASON_FLAG_PLANNED: "Other (Planned)" in the system's event log.
constexpr uint32_t kPlannedReason = 0x80000000;

constexpr int32_t kEwxReboot = 2;
constexpr int32_t kEwxForce = 4;
constexpr int32_t kAllFlags = 31;

// The program's file name without its extension, as the error's source.
std::wstring ErrorSource() {
    std::wstring name = os::ExecutablePath();
    name.erase(0, name.find_last_of(L"\\/") + 1);  // npos + 1 keeps it whole
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return name + L".mShutDown";
}

[[noreturn]] void Raise(uint32_t number, std::wstring description) {
    throw ShutdownError(number, ErrorSource(), std::move(description));
}

std::wstring InBrackets(uint32_t errorCode) { return L"[" + ApiErrorText(errorCode) + L"]"; }

// ExitWindowsEx "can succeed without actually shutting down the computer"
// when Corvane is not the interactive user (elevated with another account,
// run as SYSTEM); InitiateSystemShutdownEx restarts whoever asks.
bool InitiateRestart(Applications applications) {
    try {
        if (IsWindowsNT() && !EnableShutdownPrivilege()) return false;
    } catch (const ShutdownError&) {
        return false;  // ExitWindowsEx is tried next all the same
    }
    const bool forceAppsClosed = applications == Applications::ForcedClosed;
    const bool rebootAfterShutdown = true;
    return os::InitiateSystemShutdownExW(forceAppsClosed, rebootAfterShutdown, kPlannedReason).ok;
}

// Windows PE has no shutdown.exe; its own restart command stands in.
std::wstring FallbackCommand(Applications applications) {
    if (os::RegistryKeyExists(L"SYSTEM\\CurrentControlSet\\Control\\MiniNT"))
        return L"wpeutil.exe Reboot";
    return applications == Applications::ForcedClosed ? L"shutdown.exe -r -t 0 -f"
                                                      : L"shutdown.exe -r -t 0";
}

}  // namespace

bool ShutdownSystem(int32_t flags) {
    if (flags < 0 || flags > kAllFlags)
        Raise(kErrInvalidFlags, L"Invalid parameter to ShutdownSystem: " + std::to_wstring(flags));

    if (IsWindowsNT() && !EnableShutdownPrivilege()) return false;

    const os::CallResult result = os::ExitWindowsEx(static_cast<uint32_t>(flags), kPlannedReason);
    if (!result.ok)
        Raise(kErrShutdownFailed, L"ShutdownSystem failed: " + ApiErrorText(result.lastError));
    return true;
}

bool EnableShutdownPrivilege() {
    os::TokenPrivilege shutdown;
    const os::CallResult lookup = os::LookupPrivilegeValueA(L"SeShutdownPrivilege", shutdown.luid);
    if (!lookup.ok)
        Raise(kErrPrivilegeNotFound,
              L"Can't enable shutdown: Can't find the SE_SHUTDOWN_NAME privilege value." +
                  InBrackets(lookup.lastError));

    os::Handle process = 0;
    const os::CallResult current = os::GetCurrentProcess(process);
    if (!current.ok || process == 0)
        Raise(kErrNoCurrentProcess,
              L"Can't enable shutdown: Can't determine the current process. " +
                  InBrackets(current.lastError));

    os::Handle opened = 0;
    const os::CallResult open =
        os::OpenProcessToken(process, kTokenAdjustPrivileges | kTokenQuery, opened);
    if (!open.ok) Raise(kErrNoPrivileges, kNoPrivilegesText + InBrackets(open.lastError));
    const base::UniqueHandle token(opened);  // closed on every way out

    // An account without the privilege gets a partial assignment, which
    // Windows reports as success; ExitWindowsEx then refuses and says why.
    shutdown.attributes = kSePrivilegeEnabled;
    os::TokenPrivilege previous;
    const os::CallResult adjusted = os::AdjustTokenPrivileges(token.get(), shutdown, &previous);
    if (!adjusted.ok) Raise(kErrNoPrivileges, kNoPrivilegesText + InBrackets(adjusted.lastError));
    return true;
}

bool IsWindowsNT() {
    if (platformKnown) return platformIsNT;
    os::VersionInfo version;
    if (!os::GetVersionExA(version).ok) return platformIsNT;
    platformIsNT = version.platformId == kPlatformWin32NT;
    platformKnown = true;
    return platformIsNT;
}

std::wstring ApiErrorText(uint32_t errorCode) { return os::FormatSystemMessage(errorCode); }

void RestartComputer(Applications applications) {
    if (InitiateRestart(applications)) return;
    bool accepted = false;
    try {
        const bool force = applications == Applications::ForcedClosed;
        accepted = ShutdownSystem(force ? kEwxReboot | kEwxForce : kEwxReboot);
    } catch (const std::exception&) {
        // Whatever the refusal, the command line may still do it.
    }
    if (accepted) return;
    // Through the launcher, as every program: only the system directory's
    // copy, the native one with redirection off, started there and not
    // awaited. If it is missing or cannot start, the launcher says so and
    // the restart simply does not happen.
    const std::wstring commandLine = FallbackCommand(applications);
    const size_t blank = commandLine.find(L' ');
    int32_t unused = 0;
    base::RunProgram(commandLine.substr(0, blank), commandLine.substr(blank + 1),
                     {base::Start::Wait::No, base::Start::Window::Minimised}, unused);
}

}  // namespace restart
