// The token, privilege and shutdown part of the seam, answered by the
// simulated machine. It keeps Windows' rules that Corvane depends on: the
// token's access decides what may be done with it, a privilege not held
// cannot be enabled, and on the NT family ExitWindowsEx and
// InitiateSystemShutdownEx refuse to shut down or restart without the
// enabled shutdown privilege.
#include "os/os.h"
#include "os/sim/machine.h"

namespace os {

namespace {

constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotAllAssigned = 1300;
constexpr uint32_t kErrorNoSuchPrivilege = 1313;
constexpr uint32_t kErrorPrivilegeNotHeld = 1314;

constexpr uintptr_t kCurrentProcess = ~uintptr_t{0};  // the pseudo handle, -1
constexpr uint32_t kTokenAdjustPrivileges = 0x20;
constexpr uint32_t kTokenQuery = 0x8;
constexpr uint32_t kSePrivilegeEnabled = 2;
constexpr uint32_t kPlatformWin32NT = 2;
// Shut down, reboot, power off: everything but logging off.
constexpr uint32_t kEndsTheSystem = 1 | 2 | 8;
const Luid kShutdownLuid{19, 0};

sim::ShutdownState& State() { return sim::machine().shutdown; }

CallResult Record(const char* call) {
    State().calls.emplace_back(call);
    return CallResult{true, 0};
}

CallResult Fail(uint32_t lastError) { return CallResult{false, lastError}; }

bool SameName(const std::wstring& a, const std::wstring& b) {
    const sim::CaseInsensitiveLess less;
    return !less(a, b) && !less(b, a);
}

bool SameLuid(const Luid& a, const Luid& b) {
    return a.lowPart == b.lowPart && a.highPart == b.highPart;
}

CallResult Request(const char* call, const sim::Failure& failure, uint32_t flags, uint32_t reason) {
    const CallResult ok = Record(call);
    sim::ShutdownState& s = State();
    s.shutdownRequests.push_back(sim::ShutdownRequest{call, flags, reason, false});
    if (failure.fails) return Fail(failure.lastError);
    if (s.platformId == kPlatformWin32NT && (flags & kEndsTheSystem) && !s.shutdownPrivilegeEnabled)
        return Fail(kErrorPrivilegeNotHeld);
    s.shutdownRequests.back().accepted = true;
    return ok;
}

}  // namespace

CallResult LookupPrivilegeValueA(const std::wstring& name, Luid& luid) {
    const CallResult ok = Record("LookupPrivilegeValueA");
    if (State().privilegeLookup.fails) return Fail(State().privilegeLookup.lastError);
    if (!SameName(name, L"SeShutdownPrivilege")) return Fail(kErrorNoSuchPrivilege);
    luid = kShutdownLuid;
    return ok;
}

CallResult GetCurrentProcess(Handle& process) {
    const CallResult ok = Record("GetCurrentProcess");
    if (State().currentProcess.fails) {
        process = 0;
        return Fail(State().currentProcess.lastError);
    }
    process = kCurrentProcess;
    return ok;
}

CallResult OpenProcessToken(Handle process, uint32_t desiredAccess, Handle& token) {
    const CallResult ok = Record("OpenProcessToken");
    sim::ShutdownState& s = State();
    if (process != kCurrentProcess) return Fail(kErrorInvalidHandle);
    if (s.tokenOpen.fails) return Fail(s.tokenOpen.lastError);
    token = sim::NewHandle(0);
    s.openTokens[token] = desiredAccess;
    return ok;
}

CallResult AdjustTokenPrivileges(Handle token, const TokenPrivilege& newState,
                                 TokenPrivilege* previousState) {
    const CallResult ok = Record("AdjustTokenPrivileges");
    sim::ShutdownState& s = State();
    const auto open = s.openTokens.find(token);
    if (open == s.openTokens.end()) return Fail(kErrorInvalidHandle);
    const uint32_t access = open->second;
    if (!(access & kTokenAdjustPrivileges)) return Fail(kErrorAccessDenied);
    if (previousState && !(access & kTokenQuery)) return Fail(kErrorAccessDenied);
    if (s.tokenAdjust.fails) return Fail(s.tokenAdjust.lastError);

    // Only the shutdown privilege is modelled; any other counts as not held.
    const bool shutdownEntry = SameLuid(newState.luid, kShutdownLuid);
    if (!s.holdsShutdownPrivilege || !shutdownEntry) return CallResult{true, kErrorNotAllAssigned};
    if (previousState)
        *previousState = TokenPrivilege{
            kShutdownLuid, s.shutdownPrivilegeEnabled ? kSePrivilegeEnabled : uint32_t{0}};
    s.shutdownPrivilegeEnabled = (newState.attributes & kSePrivilegeEnabled) != 0;
    return ok;
}

CallResult ExitWindowsEx(uint32_t flags, uint32_t reason) {
    return Request("ExitWindowsEx", State().exitWindows, flags, reason);
}

CallResult InitiateSystemShutdownExW(bool forceAppsClosed, bool rebootAfterShutdown,
                                     uint32_t reason) {
    return Request("InitiateSystemShutdownExW", State().initiateShutdown,
                   (rebootAfterShutdown ? 2u : 1u) | (forceAppsClosed ? 4u : 0u), reason);
}

CallResult GetVersionExA(VersionInfo& info) {
    const CallResult ok = Record("GetVersionExA");
    if (State().versionQuery.fails) return Fail(State().versionQuery.lastError);
    info.platformId = State().platformId;
    info.majorVersion = State().majorVersion;
    info.productType = State().productType;
    return ok;
}

}  // namespace os
