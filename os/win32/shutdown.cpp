// Token, privilege and shutdown: the Windows calls behind restarting the
// computer.
#include "os/os.h"
#include "os/win32/handles.h"
#include "os/win32/helpers.h"

#include <vector>

namespace os {

namespace {

HANDLE ToHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

Handle FromHandle(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

CallResult Succeeded() { return CallResult{true, 0}; }

CallResult FailedWithLastError() { return CallResult{false, ::GetLastError()}; }

TOKEN_PRIVILEGES ToRecord(const TokenPrivilege& privilege) {
    TOKEN_PRIVILEGES record{};
    record.PrivilegeCount = 1;
    record.Privileges[0].Luid.LowPart = privilege.luid.lowPart;
    record.Privileges[0].Luid.HighPart = privilege.luid.highPart;
    record.Privileges[0].Attributes = privilege.attributes;
    return record;
}

}  // namespace

CallResult LookupPrivilegeValueA(const std::wstring& name, Luid& luid) {
    const std::string ansiName = win32::ToAnsi(name);
    LUID found{};
    if (!::LookupPrivilegeValueA(nullptr, ansiName.c_str(), &found)) return FailedWithLastError();
    luid.lowPart = found.LowPart;
    luid.highPart = found.HighPart;
    return Succeeded();
}

CallResult GetCurrentProcess(Handle& process) {
    const HANDLE current = ::GetCurrentProcess();
    if (!current) {
        const CallResult failed = FailedWithLastError();
        process = 0;
        return failed;
    }
    process = FromHandle(current);
    return Succeeded();
}

CallResult OpenProcessToken(Handle process, uint32_t desiredAccess, Handle& token) {
    HANDLE opened = nullptr;
    if (!::OpenProcessToken(ToHandle(process), desiredAccess, &opened))
        return FailedWithLastError();
    token = FromHandle(opened);
    return Succeeded();
}

CallResult AdjustTokenPrivileges(Handle token, const TokenPrivilege& newState,
                                 TokenPrivilege* previousState) {
    TOKEN_PRIVILEGES record = ToRecord(newState);
    TOKEN_PRIVILEGES previous{};
    DWORD returnedLength = 0;
    // The 16 bytes of a one-entry record bound what the previous state may fill.
    static_assert(sizeof previous == 16, "one-entry TOKEN_PRIVILEGES");
    if (!::AdjustTokenPrivileges(ToHandle(token), FALSE, &record, sizeof previous,
                                 previousState ? &previous : nullptr,
                                 previousState ? &returnedLength : nullptr))
        return FailedWithLastError();
    // Success says nothing about a partial assignment; the last error does.
    const DWORD assignment = ::GetLastError();
    if (previousState) {
        *previousState = TokenPrivilege{};
        if (previous.PrivilegeCount >= 1) {
            previousState->luid.lowPart = previous.Privileges[0].Luid.LowPart;
            previousState->luid.highPart = previous.Privileges[0].Luid.HighPart;
            previousState->attributes = previous.Privileges[0].Attributes;
        }
    }
    return CallResult{true, assignment};
}

CallResult ExitWindowsEx(uint32_t flags, uint32_t reason) {
    if (!::ExitWindowsEx(flags, reason)) return FailedWithLastError();
    return Succeeded();
}

CallResult InitiateSystemShutdownExW(bool forceAppsClosed, bool rebootAfterShutdown,
                                     uint32_t reason) {
    // A zero timeout shows no dialog, and the shutdown cannot be aborted.
    if (!::InitiateSystemShutdownExW(nullptr, nullptr, 0, forceAppsClosed ? TRUE : FALSE,
                                     rebootAfterShutdown ? TRUE : FALSE, reason))
        return FailedWithLastError();
    return Succeeded();
}

CallResult GetVersionExA(VersionInfo& info) {
    // The extended record (Windows 2000 and later) carries the product type.
    OSVERSIONINFOEXA version{};
    version.dwOSVersionInfoSize = sizeof version;  // 156
    if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version))) return FailedWithLastError();
    info.platformId = version.dwPlatformId;
    info.majorVersion = version.dwMajorVersion;
    info.productType = version.wProductType;
    return Succeeded();
}

}  // namespace os
