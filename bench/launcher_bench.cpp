// The launcher against a plain CreateProcess + WaitForSingleObject of the
// same hidden command, in one run: N starts each (default 20), then the time
// per command of both and their ratio. Target: the launcher within 1.10x.
// A windowed program, as Corvane is, so that each console child gets a
// console of its own in both cases.
//
//   launcher_bench.exe [N]
#include <windows.h>

#include "common/launcher.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Seconds() {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void PlainRun(const std::wstring& program, const std::wstring& commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info)) {
        std::fprintf(stderr, "CreateProcess failed: %lu\n", ::GetLastError());
        std::exit(1);
    }
    ::WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(info.hProcess, &code);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
    const std::wstring program = L"cmd.exe";
    const std::wstring parameters = L"/c exit 0";
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring programPath = std::wstring(system) + L"\\" + program;
    const std::wstring commandLine = program + L" " + parameters;

    int32_t exitCode = 0;
    // One of each first, so that neither pays for loading cmd.exe cold.
    CommonModule::ShellX(program, parameters, true, 0, exitCode, false);
    PlainRun(programPath, commandLine);

    // Taken in turns, so that a busy machine slows both alike.
    double launcher = 0, plain = 0;
    for (int i = 0; i < runs; ++i) {
        double start = Seconds();
        if (!CommonModule::ShellX(program, parameters, true, 0, exitCode, false)) return 1;
        launcher += Seconds() - start;
        start = Seconds();
        PlainRun(programPath, commandLine);
        plain += Seconds() - start;
    }
    launcher *= 1000.0 / runs;
    plain *= 1000.0 / runs;

    std::printf("%d x \"%ls\"\n", runs, commandLine.c_str());
    std::printf("launcher: %.1f ms per command\n", launcher);
    std::printf("plain:    %.1f ms per command\n", plain);
    std::printf("ratio:    %.2fx (target 1.10x)\n", launcher / plain);
    return 0;
}
