// CorvaneCheck: runs Corvane.exe from its own folder on a Windows one may
// change, watches it as a user would, and reports what it did, finding by
// finding, in a file beside itself named after the computer and the time.
//
//   CorvaneCheck.exe [MINUTES]   time limit for Corvane's run, 1 to 1440, 60 by default
//
// Exit code: 0 when every finding passed, 1 when one failed, 3 when none
// failed but one was not shown, 2 when the check could not run.
#include <windows.h>
// After windows.h, which it relies on.
#include <tlhelp32.h>

#include "base/paths.h"
#include "check/debug_capture.h"
#include "check/process_family.h"
#include "check/report.h"
#include "check/status_window_and_box.h"
#include "check/system_state.h"
#include "check/time_limit.h"
#include "os/win32/handles.h"
#include "os/win32/helpers.h"
#include "os/win32/startup.h"

#include <cstdio>
#include <cwchar>
#include <map>
#include <set>

namespace {

using unique_handle = win32::UniqueResource<HANDLE, ::CloseHandle, 0>;
void Unhook(HWINEVENTHOOK hook) { ::UnhookWinEvent(hook); }
using unique_hook = win32::UniqueResource<HWINEVENTHOOK, Unhook, 0>;

constexpr int kIdCancel = 2;
constexpr uint32_t kWmiLimitMs = 3 * 60 * 1000;  // a healthy WMI lists in seconds
constexpr DWORD kProbeWaitMs = 5000;
const wchar_t kProbe[] = L"CorvaneCheck: the debugger output reaches the check";
const wchar_t kClosing[] = L"CorvaneCheck: Corvane has ended";

// Shown first, and at the top of the report.
const wchar_t* const kWarning[] = {
    L"CorvaneCheck runs Corvane.exe, which makes a System Restore point and, where that fails,",
    L"repairs WMI and System Restore. Run it as administrator, beside Corvane.exe, only on a",
    L"Windows you may change (a virtual machine, a test computer). It answers Corvane's final",
    L"question with Cancel, so nothing restarts.",
};

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

// Ends the check. A console the check has to itself (a double-click, or
// elevated from a normal console) closes with it, and the report's path with
// it: it stays until Enter is pressed.
int Finish(int code) {
    DWORD processes[2] = {}, mode = 0;
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    if (::GetConsoleProcessList(processes, 2) == 1 && ::GetConsoleMode(in, &mode)) {
        Print(L"Press Enter to close this window.");
        wchar_t line[256];
        DWORD read = 0;
        ::ReadConsoleW(in, line, 256, &read, nullptr);
    }
    return code;
}

// Console windows, as Windows' console host and Windows Terminal make them.
bool IsConsoleClass(const std::wstring& name) {
    return name == L"ConsoleWindowClass" || name == L"CASCADIA_HOSTING_WINDOW_CLASS";
}

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

// When a process was created, 0 where it cannot be read (it ended, or it
// is protected).
uint64_t CreatedAt(DWORD processId) {
    // PROCESS_QUERY_LIMITED_INFORMATION (Vista and later) opens more
    // processes; XP knows only the full right.
    // XP's GetProcessTimes needs the full right even where the limited one
    // opens the process.
    FILETIME created{}, exited{}, kernel{}, user{};
    for (const DWORD access : {DWORD{0x1000}, DWORD{PROCESS_QUERY_INFORMATION}}) {
        const unique_handle process(::OpenProcess(access, FALSE, processId));
        if (process && ::GetProcessTimes(process.get(), &created, &exited, &kernel, &user))
            return uint64_t{created.dwHighDateTime} << 32 | created.dwLowDateTime;
    }
    return 0;
}

// What the check sees while Corvane runs: Corvane's processes, the windows
// being shown and the foreground, as Windows reports them to the hooks.
struct Watch {
    DWORD corvane = 0;
    check::Family family;          // Corvane and its descendants, while they live
    check::ProcessList processes;  // as the last snapshot had them
    std::set<HWND> foreground, statusWindows, consolesSeen;
    bool statusShownSeen = false;
    std::vector<check::ConsoleWindow> consoles;

    // Takes in the processes started since the last look; drops those that
    // ended, whose numbers Windows may give to others.
    void Refresh() {
        const unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return;
        processes.clear();
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
             more = ::Process32NextW(snapshot.get(), &entry))
            processes[entry.th32ProcessID] = {entry.th32ParentProcessID, entry.szExeFile};
        family = check::FamilyNow(family, processes, CreatedAt);
    }

    check::ConsoleWindow::Owner OwnerOf(DWORD processId) {
        Refresh();
        return check::OwnerOf(processId, family, processes, CreatedAt);
    }

    void Shown(HWND window) {
        const std::wstring name = ClassName(window);
        DWORD processId = 0;
        ::GetWindowThreadProcessId(window, &processId);
        if (processId == corvane && name == win32::kStatusWindowClass) {
            statusShownSeen = true;
            statusWindows.insert(window);
        }
        if (!IsConsoleClass(name) || !consolesSeen.insert(window).second) return;
        // First, as other events may come in while the window is asked.
        const std::wstring title = check::Text(window);
        const auto owner = OwnerOf(processId);
        const auto process = processes.find(processId);
        consoles.push_back({owner, name + L" \"" + title + L"\", process " +
                                       std::to_wstring(processId) + L" " +
                                       (process == processes.end() ? L"" : process->second.exe)});
    }
};

// The hooks' callback has no context of its own: the one watch of the run.
Watch* g_watch = nullptr;

void CALLBACK OnWinEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD,
                         DWORD) {
    if (!g_watch || !window || object != OBJID_WINDOW || child != CHILDID_SELF) return;
    if (event == EVENT_SYSTEM_FOREGROUND)
        g_watch->foreground.insert(window);
    else
        g_watch->Shown(window);
}

// Handles the hooks' events for ms milliseconds, or until the process
// ends; true when it has.
bool Pump(HANDLE process, DWORD ms) {
    const DWORD start = ::GetTickCount();
    for (DWORD waited = 0; waited < ms; waited = ::GetTickCount() - start) {
        const DWORD woke =
            ::MsgWaitForMultipleObjects(1, &process, FALSE, ms - waited, QS_ALLINPUT);
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
        if (woke == WAIT_OBJECT_0) return true;
        if (woke == WAIT_FAILED) ::Sleep(10);
    }
    return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

// Watches the final box until it is answered: whether it stays topmost and
// comes in front at any moment, and what may keep it out of front. Then
// Cancel, pressed once more where the box is still there 10 s later.
check::Box WatchBox(HWND box, HANDLE process, const Watch& watch) {
    check::Box read = check::ReadBox(box);
    LASTINPUTINFO input{};
    input.cbSize = sizeof input;
    if (::GetLastInputInfo(&input)) read.inputAgeMs = ::GetTickCount() - input.dwTime;
    DWORD lock = 0;
    if (::SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &lock, 0))
        read.lockTimeoutMs = lock;
    for (int look = 0; look < 20 && ::IsWindow(box); ++look) {  // two seconds, as a user looks
        read.topmost = read.topmost && (::GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST);
        read.foreground = read.foreground || ::GetForegroundWindow() == box;
        Pump(process, 100);
    }
    while (::IsWindow(box) && read.cancelPresses < 2) {
        read.foreground = read.foreground || ::GetForegroundWindow() == box;
        check::Press(box, kIdCancel);
        ++read.cancelPresses;
        for (int look = 0; look < 100 && ::IsWindow(box); ++look) Pump(process, 100);
    }
    read.gone = !::IsWindow(box);
    read.foreground = read.foreground || watch.foreground.count(box) > 0;
    return read;
}

// The check's own line through the capture, before Corvane starts: a
// capture that hears nothing would look like a clean run.
void ProveCapture(check::DebugOutputCapture& capture, check::Run& run) {
    run.traceError = capture.error();
    if (run.traceError != 0) return;
    ::OutputDebugStringW(kProbe);
    const DWORD start = ::GetTickCount();
    for (DWORD waited = 0; waited < kProbeWaitMs; waited = ::GetTickCount() - start) {
        for (const std::wstring& line : capture.MessagesOf(::GetCurrentProcessId()))
            if (line == kProbe) {
                run.probeSeconds = waited / 1000.0;
                return;
            }
        ::Sleep(50);
    }
}

// Once Corvane has ended: the check's closing line, and whether the capture
// hears it within a few seconds. Writers take the debugger output's buffer
// in turn, so every line Corvane wrote has been read before it.
bool Drain(check::DebugOutputCapture& capture) {
    ::OutputDebugStringW(kClosing);
    const DWORD start = ::GetTickCount();
    for (DWORD waited = 0; waited < kProbeWaitMs; waited = ::GetTickCount() - start) {
        for (const std::wstring& line : capture.MessagesOf(::GetCurrentProcessId()))
            if (line == kClosing) return true;
        ::Sleep(50);
    }
    return false;
}

// Starts Corvane.exe in its folder, as a double-click would, and watches it
// until it ends or the time limit: its status text, its final box (answered
// Cancel), and every console window shown meanwhile.
check::Run RunAndWatch(const std::wstring& folder, uint32_t minutes) {
    check::Run run;
    run.minutes = minutes;
    check::DebugOutputCapture capture;
    ProveCapture(capture, run);
    Watch watch;
    g_watch = &watch;
    const unique_hook shown(::SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_SHOW, nullptr,
                                              OnWinEvent, 0, 0, WINEVENT_OUTOFCONTEXT));
    const DWORD hookError = shown ? 0 : ::GetLastError();
    const unique_hook foreground(::SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND,
                                                   nullptr, OnWinEvent, 0, 0,
                                                   WINEVENT_OUTOFCONTEXT));
    run.hookError = shown ? 0 : hookError != 0 ? hookError : check::kNotRead;

    std::wstring commandLine = L"\"" + folder + L"Corvane.exe\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    // Suspended until the watch knows its number, so that no window of its
    // goes by unattributed.
    if (!::CreateProcessW((folder + L"Corvane.exe").c_str(), &commandLine[0], nullptr, nullptr,
                          FALSE, CREATE_SUSPENDED, nullptr, folder.c_str(), &startup, &started)) {
        run.startError = ::GetLastError();
        g_watch = nullptr;
        return run;
    }
    const unique_handle process(started.hProcess), thread(started.hThread);
    watch.corvane = started.dwProcessId;
    FILETIME created{}, exited{}, kernel{}, user{};
    if (::GetProcessTimes(process.get(), &created, &exited, &kernel, &user))
        watch.family = {
            {started.dwProcessId, uint64_t{created.dwHighDateTime} << 32 | created.dwLowDateTime}};
    ::ResumeThread(thread.get());
    run.started = true;
    const DWORD start = ::GetTickCount();
    const auto elapsed = [start] { return (::GetTickCount() - start) / 1000.0; };
    while (!Pump(process.get(), 100)) {
        if (elapsed() > minutes * 60.0) {
            run.timedOut = true;
            break;
        }
        watch.Refresh();
        watch.foreground.insert(::GetForegroundWindow());  // where the hook reports nothing
        if (HWND status = check::StatusWindow(started.dwProcessId)) {
            watch.statusWindows.insert(status);
            const std::optional<std::wstring> label = check::StatusLabel(status);
            if (label && (run.labels.empty() || run.labels.back().second != *label))
                run.labels.emplace_back(elapsed(), *label);
        }
        if (HWND box = run.box ? nullptr : check::FinalBox(started.dwProcessId)) {
            const double at = elapsed();
            run.box = WatchBox(box, process.get(), watch);
            run.box->atSeconds = at;
        }
    }
    run.seconds = elapsed();
    DWORD exitCode = 0;
    if (!run.timedOut && ::GetExitCodeProcess(process.get(), &exitCode)) run.exitCode = exitCode;
    Pump(process.get(), 200);  // the last events
    // A Corvane still running may write on: its trace is not heard to the end.
    run.traceDrained = !run.timedOut && run.traceError == 0 && Drain(capture);
    for (HWND window : watch.statusWindows)
        run.statusInFront = run.statusInFront || watch.foreground.count(window) > 0;
    run.statusShownSeen = watch.statusShownSeen;
    run.consoleWindows = watch.consoles;
    run.trace = capture.MessagesOf(started.dwProcessId);
    g_watch = nullptr;
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

bool Write(const std::wstring& path, const std::string& report) {
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (!out) return false;
    const bool written = std::fwrite(report.data(), 1, report.size(), out) == report.size();
    return std::fclose(out) == 0 && written;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // As Corvane does: it runs as administrator from a folder anyone may
    // write to, and loads COM and WMI.
    win32::RestrictDllSearchPath();
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    uint32_t minutes = 60;
    if (argc > 2 || (argc == 2 && !check::ParseMinutes(argv[1], minutes))) {
        Print(L"Usage: CorvaneCheck.exe [MINUTES]");
        Print(L"  MINUTES: how long Corvane.exe may run, 1 to 1440 (60 by default)");
        return Finish(2);
    }
    for (const wchar_t* line : kWarning) Print(line);
    const std::wstring folder = base::AppPath();
    if (::GetFileAttributesW((folder + L"Corvane.exe").c_str()) == INVALID_FILE_ATTRIBUTES) {
        Print(L"Corvane.exe is not beside CorvaneCheck.exe in " + folder + L": nothing was run.");
        return Finish(2);
    }
    Print(L"Running Corvane.exe (at most " + std::to_wstring(minutes) + L" minutes)...");

    const check::Machine machine = check::ReadMachine();
    const check::SystemState before = check::ReadSystemState(machine, kWmiLimitMs);
    const check::Run run = RunAndWatch(folder, minutes);
    const check::SystemState after = check::ReadSystemState(machine, kWmiLimitMs);
    const check::Report report = check::ReportOn(machine, before, run, after);

    std::vector<std::wstring> lines;
    if (report.headline) lines.push_back(*report.headline);
    const size_t shown = lines.size();  // the warning was shown already
    lines.insert(lines.end(), std::begin(kWarning), std::end(kWarning));
    lines.insert(lines.end(), report.lines.begin(), report.lines.end());
    std::string text;
    for (const std::wstring& line : lines) text += Utf8(line) + "\r\n";
    for (size_t i = 0; i < lines.size(); ++i)
        if (i < shown || i >= shown + std::size(kWarning)) Print(lines[i]);
    // Beside the check; where that folder is not writable, in the temporary one.
    const std::wstring name = ReportName(machine.computer);
    std::wstring path = folder + name;
    bool written = Write(path, text);
    if (!written) {
        wchar_t temp[MAX_PATH + 1] = {};
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
        Print(L"The report could not be written to " + path);
        path = std::wstring(temp, length <= MAX_PATH ? length : 0) + name;
        written = length > 0 && length <= MAX_PATH && Write(path, text);
    }
    Print(written ? L"Report: " + path : L"The report could not be written to " + path);
    return Finish(written || report.exitCode == 1 ? report.exitCode : 2);
}
