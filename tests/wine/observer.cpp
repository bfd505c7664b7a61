// Watches a running Corvane.exe from the same Wine desktop, as a user would:
// waits for the status window and the final message box, saves screenshots of
// both in the current directory, prints what it saw as key=value lines (CR and
// LF in texts written as \r and \n), and answers the box with a button.
// With "minimise-then-close" it minimises the status window during the first
// request, then closes it after the next status, and watches both.
// With "session" it closes the status window instead and, each when the file
// of that name appears in the current directory, sends the window
// WM_QUERYENDSESSION ("send-query") and WM_ENDSESSION TRUE ("send-end") with
// ENDSESSION_CLOSEAPP, as the Restart Manager does, leaving "query-sent" and
// "end-sent" behind.
// With "hold-guard" it holds Corvane's one-at-a-time guard, as a running
// Corvane does, until a CorvaneCheck.exe has come and gone.
//
//   observer.exe <button-id> <seconds> [minimise-then-close|session|hold-guard]
#include <windows.h>
#include <winternl.h>
// After windows.h, which it relies on.
#include <tlhelp32.h>

#include "check/status_window_and_box.h"

#include <cstdio>
#include <string>
#include <vector>

HWND g_status = nullptr;
DWORD g_processId = 0;
bool g_minimiseThenClose = false, g_closed = false;
// Minimised during the first request: in front after the next status, shown again once closed.
enum { kNotYet, kMinimised, kClosed } g_stage = kNotYet;
bool g_inFrontWhileMinimised = false, g_iconic = false, g_shownAfterClose = false;
long g_handlesAfterFirstAttempt = -1;
int g_repairReads = 0, g_unanswered = 0;  // unanswered: within 5 s

std::wstring Text(HWND hwnd) {
    bool answered = true;
    const std::wstring text = check::Text(hwnd, &answered);
    g_unanswered += !answered;
    return text;
}

void Print(const char* key, const std::wstring& value) {
    std::string out;
    for (wchar_t c : value)
        out += c == L'\r' ? "\\r" : c == L'\n' ? "\\n" : std::string(1, c < 128 ? char(c) : '?');
    std::printf("%s=%s\n", key, out.c_str());
}

// The handles a process holds, from the system's handle table
// (GetProcessHandleCount is a stub under Wine); -1 when it cannot be read.
long HandleCount(DWORD processId) {
    static const auto query =
        reinterpret_cast<decltype(&::NtQuerySystemInformation)>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<char> buffer(1 << 20);
    NTSTATUS status;
    while ((status = query(SystemHandleInformation, buffer.data(), ULONG(buffer.size()),
                           nullptr)) == LONG(0xC0000004))  // STATUS_INFO_LENGTH_MISMATCH
        buffer.resize(buffer.size() * 2);
    if (status != 0) return -1;
    const auto& table = *reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
    long held = 0;
    for (ULONG i = 0; i < table.Count; ++i) held += table.Handle[i].OwnerPid == processId;
    return held;
}

// Minimised during the first request, as a user does, who then works in
// another window; once the next status has been set, closed.
void MinimiseThenClose(const std::wstring& label) {
    if (g_stage == kNotYet && label == L"Creating System Restore Point...") {
        ::SendMessageW(g_status, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        static const HWND other =
            ::CreateWindowExW(0, L"STATIC", L"another window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                              0, 200, 100, nullptr, nullptr, nullptr, nullptr);
        ::SetForegroundWindow(other);
        g_stage = kMinimised;
    } else if (g_stage == kMinimised && label != L"Creating System Restore Point...") {
        ::Sleep(500);  // the label is set before the window's placement
        g_inFrontWhileMinimised = ::GetForegroundWindow() == g_status;
        g_iconic = ::IsIconic(g_status);
        g_closed = ::PostMessageW(g_status, WM_CLOSE, 0, 0);
        g_stage = kClosed;
    } else if (g_stage == kClosed && ::IsWindowVisible(g_status)) {
        g_shownAfterClose = true;
    }
}

// Waits for a visible window. Meanwhile counts the program's handles after its
// first attempt (COM and WMI have made their one-time allocations by then) and
// the reads during the full repair, and minimises and closes the window when
// asked to.
HWND WaitFor(HWND (*find)(DWORD processId), DWORD seconds) {
    for (DWORD waited = 0; waited < seconds * 10; ++waited, ::Sleep(100)) {
        if (HWND hwnd = find(0)) return hwnd;
        if (!::IsWindow(g_status)) continue;
        const std::wstring label = Text(::GetWindow(g_status, GW_CHILD));
        if (g_minimiseThenClose) MinimiseThenClose(label);
        if (g_handlesAfterFirstAttempt < 0 &&
            label == L"Errors encountered, Restarting System Restore...")
            g_handlesAfterFirstAttempt = HandleCount(g_processId);
        if (label == L"Errors encountered, Repairing System Restore...") ++g_repairReads;
    }
    return nullptr;
}

// Saves the screen area of a window as a 24-bit BMP.
void SaveScreenshot(HWND hwnd, const wchar_t* path) {
    RECT r{};
    ::GetWindowRect(hwnd, &r);
    const LONG width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = ::GetDC(nullptr), memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    ::SelectObject(memory, old);  // GetDIBits wants it unselected
    BITMAPINFOHEADER info{sizeof info, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<char> pixels(size_t((width * 3 + 3) & ~3) * height);
    ::GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
                DIB_RGB_COLORS);
    const DWORD headers = sizeof(BITMAPFILEHEADER) + sizeof info;
    BITMAPFILEHEADER file{0x4D42, DWORD(headers + pixels.size()), 0, 0, headers};
    if (FILE* out = _wfopen(path, L"wb")) {
        std::fwrite(&file, sizeof file, 1, out);
        std::fwrite(&info, sizeof info, 1, out);
        std::fwrite(pixels.data(), 1, pixels.size(), out);
        std::fclose(out);
    }
}

// Waits for a file in the current directory; false after the time limit.
bool Awaited(const wchar_t* file, DWORD seconds) {
    for (DWORD waited = 0; waited < seconds * 10; ++waited, ::Sleep(100))
        if (::GetFileAttributesW(file) != INVALID_FILE_ATTRIBUTES) return true;
    return false;
}

void Leave(const wchar_t* file) {
    if (FILE* out = _wfopen(file, L"w")) std::fclose(out);
}

int EndTheSession(DWORD seconds) {
    ::PostMessageW(g_status, WM_CLOSE, 0, 0);
    for (int waited = 0; waited < 50 && ::IsWindowVisible(g_status); ++waited) ::Sleep(100);
    std::printf("status.closed-exists=%s\n", ::IsWindow(g_status) ? "yes" : "no");
    std::printf("status.closed-visible=%s\n", ::IsWindowVisible(g_status) ? "yes" : "no");
    const struct {
        const wchar_t *go, *done;
        UINT message;
    } steps[] = {{L"send-query", L"query-sent", WM_QUERYENDSESSION},
                 {L"send-end", L"end-sent", WM_ENDSESSION}};
    // WM_ENDSESSION's wParam is what the window answered the query.
    DWORD_PTR result = 0;
    for (const auto& step : steps) {
        if (!Awaited(step.go, seconds)) return std::fprintf(stderr, "observer: no go\n"), 1;
        Print("status.label-while-waiting", Text(::GetWindow(g_status, GW_CHILD)));
        const WPARAM wParam = step.message == WM_ENDSESSION && result ? TRUE : FALSE;
        const LRESULT sent = ::SendMessageTimeoutW(
            g_status, step.message, wParam, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG, 5000, &result);
        std::printf("session.%u=%s %lu\n", step.message, sent ? "answered" : "unanswered",
                    static_cast<unsigned long>(result));
        std::fflush(stdout);
        Leave(step.done);
    }
    std::printf("status.unanswered-reads=%d\n", g_unanswered);
    return 0;
}

bool CheckRuns() {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more && !found;
         more = ::Process32NextW(snapshot, &entry))
        found = ::lstrcmpiW(entry.szExeFile, L"CorvaneCheck.exe") == 0;
    ::CloseHandle(snapshot);
    return found;
}

// The global name: Wine has no private namespaces.
int HoldTheGuard(DWORD seconds) {
    HANDLE guard = ::CreateMutexW(nullptr, TRUE, L"Global\\Brindlemoor.Corvane.Run");
    if (guard && ::GetLastError() == ERROR_ALREADY_EXISTS) {  // not owned then
        ::CloseHandle(guard);
        guard = nullptr;
    }
    bool seen = false;
    for (DWORD waited = 0; guard && waited < seconds * 10; ++waited, ::Sleep(100)) {
        const bool runs = CheckRuns();
        if (seen && !runs) break;
        seen = seen || runs;
    }
    std::printf("guard.held=%s\n", guard && seen ? "yes" : "no");
    if (guard) ::CloseHandle(guard);
    return guard && seen ? 0 : 1;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const int answer = std::wcstol(argv[1], nullptr, 10);
    const DWORD seconds = std::wcstoul(argv[2], nullptr, 10);
    const std::wstring mode = argc > 3 ? argv[3] : L"";
    g_minimiseThenClose = mode == L"minimise-then-close";
    if (mode == L"hold-guard") return HoldTheGuard(seconds);

    g_status = WaitFor(check::StatusWindow, seconds);
    if (!g_status) return std::fprintf(stderr, "observer: no status window\n"), 1;
    if (mode == L"session") return EndTheSession(seconds);
    ::GetWindowThreadProcessId(g_status, &g_processId);
    ::Sleep(300);  // before the box covers it: both are centred
    SaveScreenshot(g_status, L"status-window.bmp");

    HWND box = WaitFor(check::FinalBox, seconds);
    if (!box) return std::fprintf(stderr, "observer: no message box\n"), 1;
    ::Sleep(500);  // let both windows finish painting
    const long first = g_handlesAfterFirstAttempt, end = HandleCount(g_processId);
    std::printf("handles.after-first-attempt=%ld\nhandles.end=%ld\nhandles.grew=%s\n", first, end,
                first > 0 && end >= 0 && end <= first ? "no" : "yes");
    std::printf("status.closed=%s\nstatus.visible=%s\n", g_closed ? "yes" : "no",
                ::IsWindowVisible(g_status) ? "yes" : "no");
    if (g_minimiseThenClose)
        std::printf(
            "status.minimised=%s\nstatus.minimised-in-front=%s\nstatus.shown-after-close=%s\n",
            g_iconic ? "yes" : "no", g_inFrontWhileMinimised ? "yes" : "no",
            g_shownAfterClose ? "yes" : "no");
    std::printf("status.repair-reads=%d\nstatus.unanswered-reads=%d\n", g_repairReads,
                g_unanswered);
    Print("status.caption", Text(g_status));  // empty once closed
    Print("status.label", Text(::GetWindow(g_status, GW_CHILD)));
    const check::Box read = check::ReadBox(box);
    Print("box.title", read.title);
    Print("box.text", read.text);
    SaveScreenshot(box, L"message-box.bmp");
    std::fflush(stdout);
    check::Press(box, answer);
    return 0;
}
