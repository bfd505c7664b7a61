// Starts a program as a service or a deployment job would: on a desktop of
// a new window station, which is never the visible one (WSF_VISIBLE clear).
// Waits for it and exits with its exit code.
//
//   hidden_station.exe PROGRAM
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    // Station and desktop stay open until this program ends, for the child.
    HWINSTA station = ::CreateWindowStationW(L"CorvaneHidden", 0, GENERIC_ALL, nullptr);
    if (!station || !::SetProcessWindowStation(station) ||
        !::CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr)) {
        std::fprintf(stderr, "hidden_station: no station (%lu)\n", ::GetLastError());
        return 3;
    }
    std::wstring desktop = L"CorvaneHidden\\Default";
    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = &desktop[0];
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(argv[1], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        std::fprintf(stderr, "hidden_station: cannot start the program (%lu)\n", ::GetLastError());
        return 3;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    return static_cast<int>(exitCode);
}
