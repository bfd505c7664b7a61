// A stand-in program for the tests: appends how it was started (command
// line, show-window value, -1 for none, and current directory) to
// "<its own path>.log".
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain() {
    wchar_t log[MAX_PATH + 4] = {};
    ::GetModuleFileNameW(nullptr, log, MAX_PATH);
    STARTUPINFOW startup{};
    ::GetStartupInfoW(&startup);
    wchar_t directory[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, directory);
    // A 32-bit copy placed in the native System32 must log beside itself,
    // not in SysWOW64.
    PVOID old = nullptr;
    ::Wow64DisableWow64FsRedirection(&old);
    if (FILE* out = _wfopen(::lstrcatW(log, L".log"), L"a, ccs=UTF-8")) {
        std::fwprintf(out, L"%ls|show=%d|cwd=%ls\n", ::GetCommandLineW(),
                      startup.dwFlags & STARTF_USESHOWWINDOW ? startup.wShowWindow : -1, directory);
        std::fclose(out);
    }
    return 0;
}
