// Whether anybody can see Corvane's desktop, and the shell's start of a
// program with the user's consent.
#include "os/os.h"
#include "os/win32/handles.h"
#include "os/win32/helpers.h"

#include <shellapi.h>

// Older SDK headers leave it out (it is valid from XP on).
#ifndef SEE_MASK_NOASYNC
#define SEE_MASK_NOASYNC 0x00000100
#endif

namespace os {

CallResult ProcessWindowStationFlags(uint32_t& flags) {
    // The station handle belongs to the process and is not closed.
    HWINSTA station = ::GetProcessWindowStation();
    if (!station) return CallResult{false, ::GetLastError()};
    USEROBJECTFLAGS objectFlags{};
    DWORD needed = 0;
    if (!::GetUserObjectInformationW(station, UOI_FLAGS, &objectFlags, sizeof objectFlags, &needed))
        return CallResult{false, ::GetLastError()};
    flags = objectFlags.dwFlags;
    return CallResult{true, 0};
}

CallResult CurrentProcessSessionId(uint32_t& sessionId) {
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session))
        return CallResult{false, ::GetLastError()};
    sessionId = session;
    return CallResult{true, 0};
}

CallResult ShellExecuteWithVerb(const std::wstring& verb, const std::wstring& file,
                                const std::wstring& parameters, const std::wstring& directory,
                                int showWindow) {
    // The shell may hand the verb to extensions that are COM objects; its
    // page asks for this apartment, without OLE1 DDE.
    win32::ScopedComInit com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // NOASYNC: Corvane ends right after the call. NO_UI: a refusal or a
    // missing file is traced, not put in a dialog.
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    // Without an owner the consent prompt may only flash on the task bar.
    info.hwnd = win32::StatusWindowHandle();
    info.lpVerb = verb.c_str();
    info.lpFile = file.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.lpDirectory = directory.empty() ? nullptr : directory.c_str();
    info.nShow = showWindow;
    if (!::ShellExecuteExW(&info)) return CallResult{false, ::GetLastError()};
    return CallResult{true, 0};
}

}  // namespace os
