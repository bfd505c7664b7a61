// A stand-in program for the tests: appends how it was started (command
// line, show-window value, 64-bit or not) to "<its own path>.log", then
// exits with the number given after "/exit", if any.
#include <windows.h>

#include <cstdio>
#include <cwchar>
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
    const wchar_t* exitAt = std::wcsstr(::GetCommandLineW(), L"/exit ");
    return exitAt ? static_cast<int>(std::wcstol(exitAt + 6, nullptr, 10)) : 0;
}
