// Runs a program with a changed environment, for the tests: Wine builds a
// program's environment itself, so variables such as "systemroot" cannot
// be changed from outside.
//
//   envrun.exe [/hidden-station] [NAME=VALUE | NAME= | -NAME]... -- PROGRAM
//
// NAME= sets an empty value, -NAME removes the variable. /hidden-station
// starts PROGRAM on a desktop of a new window station that is not visible,
// as a service or a deployment job runs. Waits for PROGRAM and exits with
// its exit code.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    int i = 1;
    std::wstring desktop;
    for (; i < argc && std::wstring(argv[i]) != L"--"; ++i) {
        const std::wstring setting = argv[i];
        if (setting == L"/hidden-station") {
            // A new station is never the interactive one (WSF_VISIBLE clear).
            // Station and desktop stay open until this program ends, so
            // that the child can use them.
            HWINSTA station = ::CreateWindowStationW(L"CorvaneHidden", 0, GENERIC_ALL, nullptr);
            if (!station || !::SetProcessWindowStation(station) ||
                !::CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr)) {
                std::fprintf(stderr, "envrun: no hidden station (%lu)\n", ::GetLastError());
                return 3;
            }
            desktop = L"CorvaneHidden\\Default";
        } else if (setting[0] == L'-') {
            ::SetEnvironmentVariableW(setting.c_str() + 1, nullptr);
        } else if (const size_t eq = setting.find(L'='); eq != std::wstring::npos) {
            ::SetEnvironmentVariableW(setting.substr(0, eq).c_str(), setting.c_str() + eq + 1);
        }
    }
    if (i + 1 >= argc) {
        std::fprintf(stderr,
                     "usage: envrun [/hidden-station] [NAME=VALUE|NAME=|-NAME]... -- PROGRAM\n");
        return 2;
    }
    std::wstring commandLine = L"\"" + std::wstring(argv[i + 1]) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!desktop.empty()) startup.lpDesktop = &desktop[0];
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(argv[i + 1], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &process)) {
        std::fprintf(stderr, "envrun: cannot start the program (%lu)\n", ::GetLastError());
        return 3;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}
