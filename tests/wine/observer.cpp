// Watches a running Corvane.exe from the same Wine desktop, as a user would:
// waits for the status window and the final message box, reads their texts,
// saves screenshots, and answers the box with a chosen button.
//
//   observer.exe <answer-id> <screenshot-dir> <seconds> [close-during-full-repair]
//
// Prints key=value lines (CR and LF in texts written as \r and \n): the
// windows' texts, the program's handle count after its first attempt and
// when the box appears, and how often the status window answered a read
// during the full repair. Exits 1 when a window did not appear in time.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const std::wstring kRepairing = L"Errors encountered, Repairing System Restore...";
int g_unanswered = 0;  // reads that the program did not answer within 5 s

std::wstring Text(HWND hwnd) {
    wchar_t buffer[2048] = {};
    DWORD_PTR ignored = 0;
    if (!::SendMessageTimeoutW(hwnd, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer),
                               SMTO_ABORTIFHUNG, 5000, &ignored) &&
        ::IsWindow(hwnd))
        ++g_unanswered;
    return buffer;
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
    struct Entry {  // SYSTEM_HANDLE_ENTRY
        ULONG ownerPid;
        BYTE objectType, flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<unsigned char> buffer(1 << 20);
    ULONG needed = 0;
    LONG status = -1;
    while (query && (status = query(16, buffer.data(), ULONG(buffer.size()), &needed)) ==
                        LONG(0xC0000004))  // STATUS_INFO_LENGTH_MISMATCH
        buffer.resize(buffer.size() * 2);
    if (status != 0) return -1;
    const ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
    const Entry* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
    long held = 0;
    for (ULONG i = 0; i < count; ++i) held += entries[i].ownerPid == processId;
    return held;
}

HWND g_status = nullptr;
DWORD g_processId = 0;
bool g_closeDuringRepair = false, g_closed = false;
long g_handlesAfterFirstAttempt = -1;
int g_repairReads = 0;

// At each poll while the program works: count its handles once the first
// attempt is over (COM and WMI have made their one-time allocations by
// then), count the reads during the full repair, and close the window then
// when asked to, as an impatient user would.
void WatchStatus() {
    if (!::IsWindow(g_status)) return;
    const std::wstring label = Text(::GetWindow(g_status, GW_CHILD));
    if (g_handlesAfterFirstAttempt < 0 &&
        label == L"Errors encountered, Restarting System Restore...")
        g_handlesAfterFirstAttempt = HandleCount(g_processId);
    if (label != kRepairing) return;
    ++g_repairReads;
    if (g_closeDuringRepair && !g_closed) g_closed = ::PostMessageW(g_status, WM_CLOSE, 0, 0);
}

HWND WaitFor(const wchar_t* className, const wchar_t* title, DWORD seconds, bool watch) {
    for (DWORD waited = 0; waited < seconds * 10; ++waited) {
        HWND hwnd = ::FindWindowW(className, title);
        if (hwnd && ::IsWindowVisible(hwnd)) return hwnd;
        if (watch) WatchStatus();
        ::Sleep(100);
    }
    return nullptr;
}

// Saves the screen area of a window as a 24-bit BMP.
void SaveScreenshot(HWND hwnd, const std::wstring& path) {
    RECT r{};
    ::GetWindowRect(hwnd, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    ::SelectObject(memory, old);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    std::vector<unsigned char> pixels(size_t(((width * 3) + 3) & ~3) * height);
    ::GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
                DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER file{0x4D42, 0, 0, 0, sizeof file + sizeof info};
    file.bfSize = file.bfOffBits + DWORD(pixels.size());
    if (FILE* out = _wfopen(path.c_str(), L"wb")) {
        std::fwrite(&file, sizeof file, 1, out);
        std::fwrite(&info, sizeof info, 1, out);
        std::fwrite(pixels.data(), 1, pixels.size(), out);
        std::fclose(out);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    const int answer = std::wcstol(argv[1], nullptr, 10);
    const std::wstring dir = argv[2];
    const DWORD seconds = std::wcstoul(argv[3], nullptr, 10);
    g_closeDuringRepair = argc > 4 && std::wstring(argv[4]) == L"close-during-full-repair";

    g_status = WaitFor(L"CorvaneStatusWindow", nullptr, seconds, false);
    if (!g_status) return std::fprintf(stderr, "observer: no status window\n"), 1;
    ::GetWindowThreadProcessId(g_status, &g_processId);
    ::Sleep(300);  // before the box covers it: both are centred
    SaveScreenshot(g_status, dir + L"\\status-window.bmp");

    HWND box = WaitFor(L"#32770", L"Tessaline", seconds, true);
    if (!box) return std::fprintf(stderr, "observer: no message box\n"), 1;
    ::Sleep(500);  // let both windows finish painting
    std::printf("handles.after-first-attempt=%ld\nhandles.end=%ld\n", g_handlesAfterFirstAttempt,
                HandleCount(g_processId));
    if (g_closeDuringRepair) Print("status.closed", g_closed ? L"yes" : L"no");
    std::printf("status.repair-reads=%d\nstatus.unanswered-reads=%d\n", g_repairReads,
                g_unanswered);
    const bool open = ::IsWindow(g_status);
    Print("status.caption", open ? Text(g_status) : L"");
    if (open) Print("status.label", Text(::GetWindow(g_status, GW_CHILD)));
    Print("box.title", Text(box));
    Print("box.text", Text(::GetDlgItem(box, 0xFFFF)));
    SaveScreenshot(box, dir + L"\\message-box.bmp");
    std::fflush(stdout);
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    return 0;
}
