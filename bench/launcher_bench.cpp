// The launcher against a plain CreateProcess + WaitForSingleObject of the
// same hidden command, in one run: N starts each (default 20), then the time
// per command of both and their ratio. Target: the launcher within 1.10x.
// A third run starts the command exactly as the launcher does, which tells
// the wait's cost apart from that of the hidden start.
// A windowed program, as Corvane is, so that each console child gets a
// console of its own in both cases.
//
//   launcher_bench.exe [N]
#include <windows.h>

#include "base/launcher.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const base::Start kAwaitedHidden{base::Start::Wait::UntilItEnds, base::Start::Window::Hidden};

double Seconds() {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// How a plain start hides its program: as the launcher did before it hid
// programs, or as it does now (no console window, NUL for the standard
// handles).
enum class Hiding { Window, AsTheLauncher };

void PlainRun(const std::wstring& program, const std::wstring& commandLine, Hiding hiding) {
    const bool sameStart = hiding == Hiding::AsTheLauncher;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE nul = nullptr;
    if (sameStart) {
        nul =
            ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          &inheritable, OPEN_EXISTING, 0, nullptr);
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    }
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, sameStart,
                          sameStart ? CREATE_NO_WINDOW : 0, nullptr, nullptr, &startup, &info)) {
        std::fprintf(stderr, "CreateProcess failed: %lu\n", ::GetLastError());
        std::exit(1);
    }
    if (nul) ::CloseHandle(nul);
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
    // One of each first, so that none pays for loading cmd.exe cold.
    base::RunProgram(program, parameters, kAwaitedHidden, exitCode);
    PlainRun(programPath, commandLine, Hiding::Window);
    PlainRun(programPath, commandLine, Hiding::AsTheLauncher);

    // Taken in turns, so that a busy machine slows all alike.
    double launcher = 0, plain = 0, sameStart = 0;
    for (int i = 0; i < runs; ++i) {
        double start = Seconds();
        if (!base::RunProgram(program, parameters, kAwaitedHidden, exitCode)) return 1;
        launcher += Seconds() - start;
        start = Seconds();
        PlainRun(programPath, commandLine, Hiding::Window);
        plain += Seconds() - start;
        start = Seconds();
        PlainRun(programPath, commandLine, Hiding::AsTheLauncher);
        sameStart += Seconds() - start;
    }
    const double toMs = 1000.0 / runs;
    std::printf("%d x \"%ls\"\n", runs, commandLine.c_str());
    std::printf("launcher:   %.1f ms per command\n", launcher * toMs);
    std::printf("plain:      %.1f ms per command\n", plain * toMs);
    std::printf("same start: %.1f ms per command\n", sameStart * toMs);
    std::printf("ratio:      %.2fx (target 1.10x); against the same start %.2fx\n",
                launcher / plain, launcher / sameStart);
    return 0;
}
