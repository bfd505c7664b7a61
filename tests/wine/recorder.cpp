// A stand-in program for the tests: appends how it was started (command
// line and show-window value) to "<its own path>.log".
#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    const bool usesShow = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0;

    // A 32-bit copy placed in the native System32 must log beside itself,
    // not in SysWOW64.
    using Disable = BOOL(WINAPI*)(PVOID*);
    auto disable = reinterpret_cast<Disable>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "Wow64DisableWow64FsRedirection")));
    PVOID old = nullptr;
    if (disable) disable(&old);

    std::wstring log = std::wstring(self) + L".log";
    if (FILE* out = _wfopen(log.c_str(), L"a, ccs=UTF-8")) {
        std::fwprintf(out, L"%ls|show=%d\n", ::GetCommandLineW(),
                      usesShow ? startup.wShowWindow : -1);
        std::fclose(out);
    }
    return 0;
}
