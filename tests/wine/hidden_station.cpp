// Starts a program as a service or a deployment job would: on a desktop of
// a new window station, which is never the visible one (WSF_VISIBLE clear).
// Waits for it and exits with its exit code.
//
//   hidden_station.exe PROGRAM
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    // Station and desktop stay open until this program ends, for the child.
    HWINSTA station = ::CreateWindowStationW(L"CorvaneHidden", 0, GENERIC_ALL, nullptr);
    wchar_t desktop[] = L"CorvaneHidden\\Default";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION process{};
    if (!station || !::SetProcessWindowStation(station) ||
        !::CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr) ||
        !::CreateProcessW(argv[1], nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process))
        return std::fprintf(stderr, "hidden_station: failed (%lu)\n", ::GetLastError()), 3;
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    return static_cast<int>(exitCode);
}
