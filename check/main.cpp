// CorvaneCheck: runs Corvane.exe from its own folder on a Windows one may
// change, watches it as a user would, and reports what it did, finding by
// finding, in a file beside itself named after the computer and the time.
//
//   CorvaneCheck.exe [MINUTES]   time limit for Corvane's run, 60 by default
//
// Exit code: 0 when no finding failed, 1 when one did, 2 when the check
// could not run at all.
#include <windows.h>

#include "check/corvane_windows.h"
#include "check/debug_capture.h"
#include "check/system_state.h"
#include "common/paths.h"
#include "os/win32/handles.h"
#include "os/win32/startup.h"

#include <cstdio>
#include <cwchar>
#include <set>

namespace {

using unique_handle = win32::UniqueResource<HANDLE, ::CloseHandle, 0>;

constexpr int kIdCancel = 2;

// Shown first, and at the top of the report.
const wchar_t* const kWarning[] = {
    L"CorvaneCheck runs Corvane.exe, which makes a System Restore point and, where that fails,",
    L"repairs WMI and System Restore. Run it as administrator, beside Corvane.exe, only on a",
    L"Windows you may change (a virtual machine, a test computer). It answers Corvane's final",
    L"question with Cancel, so nothing restarts.",
};

// Console windows, as Windows' console host and Windows Terminal make them.
bool IsConsoleWindow(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return ::lstrcmpW(name, L"ConsoleWindowClass") == 0 ||
           ::lstrcmpW(name, L"CASCADIA_HOSTING_WINDOW_CLASS") == 0;
}

BOOL CALLBACK Collect(HWND window, LPARAM windows) {
    reinterpret_cast<std::set<HWND>*>(windows)->insert(window);
    return TRUE;
}

std::set<HWND> TopLevelWindows() {
    std::set<HWND> windows;
    ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// Starts Corvane.exe in its folder, as a double-click would, and watches it
// until it ends or the time limit: its status text, its final box (answered
// Cancel), and any console window that was not there before.
check::Run RunAndWatch(const std::wstring& folder, uint32_t minutes, DebugOutputCapture& capture) {
    check::Run run;
    run.minutes = minutes;
    run.traceError = capture.error();
    const std::set<HWND> before = TopLevelWindows();
    std::wstring commandLine = L"\"" + folder + L"Corvane.exe\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW((folder + L"Corvane.exe").c_str(), &commandLine[0], nullptr, nullptr,
                          FALSE, 0, nullptr, folder.c_str(), &startup, &started)) {
        run.startError = ::GetLastError();
        return run;
    }
    const unique_handle process(started.hProcess), thread(started.hThread);
    const DWORD start = ::GetTickCount();
    const auto elapsed = [start] { return (::GetTickCount() - start) / 1000.0; };
    std::set<HWND> consoles;
    while (::WaitForSingleObject(process.get(), 100) == WAIT_TIMEOUT) {
        if (elapsed() > minutes * 60.0) {
            run.timedOut = true;
            break;
        }
        if (HWND status = corvane_windows::StatusWindow(started.dwProcessId)) {
            const std::wstring label = corvane_windows::StatusLabel(status);
            if (run.labels.empty() || run.labels.back().second != label)
                run.labels.emplace_back(elapsed(), label);
        }
        HWND box = run.box ? nullptr : corvane_windows::FinalBox(started.dwProcessId);
        if (box) {
            ::Sleep(500);  // as a user would look at it: painted, and in front if it comes there
            run.box = corvane_windows::ReadBox(box);
            run.box->atSeconds = elapsed();
            corvane_windows::Press(box, kIdCancel);
        }
        for (HWND window : TopLevelWindows())
            if (before.count(window) == 0 && ::IsWindowVisible(window) && IsConsoleWindow(window) &&
                consoles.insert(window).second) {
                wchar_t name[64] = {};
                ::GetClassNameW(window, name, 64);
                run.consoleWindows.push_back(std::wstring(name) + L" \"" +
                                             corvane_windows::Text(window) + L"\"");
            }
    }
    run.seconds = elapsed();
    DWORD exitCode = 0;
    if (!run.timedOut && ::GetExitCodeProcess(process.get(), &exitCode)) run.exitCode = exitCode;
    ::Sleep(200);  // the reader may still be taking the last message
    run.trace = capture.MessagesOf(started.dwProcessId);
    return run;
}

// The report's name: the computer and the local time, e.g.
// CorvaneCheck-PC01-2026-12-07-101500.txt.
std::wstring ReportName(const std::wstring& computer) {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    wchar_t stamp[32];
    std::swprintf(stamp, 32, L"%04u-%02u-%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond);
    return L"CorvaneCheck-" + computer + L"-" + stamp + L".txt";
}

std::string Utf8(const std::wstring& text) {
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 1 ? size - 1 : 0, '\0');
    if (size > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &bytes[0], size, nullptr, nullptr);
    return bytes;
}

// A line on the console as the console shows it, or as UTF-8 where the
// output goes to a file or a pipe.
void Print(const std::wstring& line) {
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0, written = 0;
    const std::wstring text = line + L"\r\n";
    if (::GetConsoleMode(out, &mode)) {
        ::WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
    } else {
        const std::string bytes = Utf8(text);
        ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // As Corvane does: it runs as administrator from a folder anyone may
    // write to, and loads COM and WMI.
    win32::RestrictDllSearchPath();
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    for (const wchar_t* line : kWarning) Print(line);
    const uint32_t asked = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 0;
    const uint32_t minutes = asked > 0 ? asked : 60;
    const std::wstring folder = CommonModule::AppPath();
    if (::GetFileAttributesW((folder + L"Corvane.exe").c_str()) == INVALID_FILE_ATTRIBUTES) {
        Print(L"Corvane.exe is not beside CorvaneCheck.exe in " + folder + L": nothing was run.");
        return 2;
    }
    Print(L"Running Corvane.exe (at most " + std::to_wstring(minutes) + L" minutes)...");

    const check::Machine machine = check::ReadMachine();
    const check::SystemState before = check::ReadSystemState();
    check::Run run;
    {
        DebugOutputCapture capture;
        run = RunAndWatch(folder, minutes, capture);
    }
    const check::SystemState after = check::ReadSystemState();
    const std::vector<check::Finding> findings = check::Findings(machine, before, run, after);

    std::vector<std::wstring> lines(std::begin(kWarning), std::end(kWarning));
    for (const std::wstring& line : check::ReportLines(machine, before, run, after, findings))
        lines.push_back(line);
    std::string report;
    for (const std::wstring& line : lines) report += Utf8(line) + "\r\n";
    const std::wstring path = folder + ReportName(machine.computer);
    bool written = false;
    if (FILE* out = _wfopen(path.c_str(), L"wb")) {
        written = std::fwrite(report.data(), 1, report.size(), out) == report.size();
        written = std::fclose(out) == 0 && written;
    }
    for (size_t i = std::size(kWarning); i < lines.size(); ++i) Print(lines[i]);
    Print(written ? L"Report: " + path : L"The report could not be written to " + path);
    for (const check::Finding& finding : findings)
        if (finding.verdict == check::Verdict::Fail) return 1;
    return written ? 0 : 2;
}
