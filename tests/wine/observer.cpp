// Watches a running Corvane.exe from the same Wine desktop, as a user would:
// waits for the status window and the final message box, reads their texts,
// saves screenshots, and answers the message box with a chosen button.
//
//   observer.exe <answer-id> <screenshot-dir> <seconds> [close-during-full-repair]
//
// With close-during-full-repair it closes the status window as soon as it
// reports the full repair, as an impatient user would. It also prints the
// program's handle count after its first attempt and when the box appears.
//
// Prints "status.caption=", "status.label=", "box.title=" and "box.text="
// lines (CR and LF written as \r and \n) and exits 0, or exits 1 when a
// window did not appear in time.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// Reads of a window's text that its program did not answer within 5 s.
int g_unanswered = 0;

std::wstring Text(HWND hwnd) {
    wchar_t buffer[2048] = {};
    DWORD_PTR ignored = 0;
    // The program may be busy for a moment; never hang on it.
    if (!::SendMessageTimeoutW(hwnd, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer),
                               SMTO_ABORTIFHUNG, 5000, &ignored) &&
        ::IsWindow(hwnd))
        ++g_unanswered;
    return buffer;
}

void Print(const char* key, const std::wstring& value) {
    std::string out;
    for (wchar_t c : value) {
        if (c == L'\r')
            out += "\\r";
        else if (c == L'\n')
            out += "\\n";
        else if (c < 128)
            out += static_cast<char>(c);
        else
            out += '?';
    }
    std::printf("%s=%s\n", key, out.c_str());
    std::fflush(stdout);
}

// Called at each poll while waiting; may act on the windows.
using PollAction = void (*)();

HWND WaitFor(const wchar_t* className, const wchar_t* title, DWORD seconds,
             PollAction action = nullptr) {
    for (DWORD waited = 0; waited < seconds * 10; ++waited) {
        if (HWND hwnd = ::FindWindowW(className, title)) {
            if (::IsWindowVisible(hwnd)) return hwnd;
        }
        if (action) action();
        ::Sleep(100);
    }
    return nullptr;
}

long HandleCount(DWORD processId);

HWND g_status = nullptr;
DWORD g_processId = 0;
bool g_closeDuringRepair = false;
bool g_closed = false;
long g_handlesAfterFirstAttempt = -1;
int g_repairReads = 0;  // answered reads while the full repair ran

// While the program works: count its handles once the first attempt is
// over (WMI and COM have made their one-time allocations by then), and
// close the window during the full repair when asked to.
void WatchStatus() {
    if (!::IsWindow(g_status)) return;
    const std::wstring label = Text(::GetWindow(g_status, GW_CHILD));
    if (g_handlesAfterFirstAttempt < 0 &&
        label == L"Errors encountered, Restarting System Restore...")
        g_handlesAfterFirstAttempt = HandleCount(g_processId);
    if (label == L"Errors encountered, Repairing System Restore...") ++g_repairReads;
    if (g_closeDuringRepair && !g_closed &&
        label == L"Errors encountered, Repairing System Restore...") {
        ::PostMessageW(g_status, WM_CLOSE, 0, 0);
        g_closed = true;
    }
}

// The number of handles the program holds (-1 when it cannot be read), from
// the system's handle table: GetProcessHandleCount is a stub under Wine.
long HandleCount(DWORD processId) {
    struct Entry {  // SYSTEM_HANDLE_ENTRY
        ULONG ownerPid;
        BYTE objectType;
        BYTE flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    std::vector<unsigned char> buffer(1 << 20);
    ULONG needed = 0;
    LONG status;
    while ((status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
           static_cast<LONG>(0xC0000004)) {  // STATUS_INFO_LENGTH_MISMATCH
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) return -1;
    const ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
    const Entry* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
    long held = 0;
    for (ULONG i = 0; i < count; ++i)
        if (entries[i].ownerPid == processId) ++held;
    return held;
}

// Saves the screen area of a window (or the whole screen) as a 24-bit BMP.
bool SaveScreenshot(HWND hwnd, const std::wstring& path) {
    RECT r{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    if (hwnd) ::GetWindowRect(hwnd, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;

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
    const int stride = ((width * 3) + 3) & ~3;
    std::vector<unsigned char> pixels(static_cast<size_t>(stride) * height);
    ::GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
                DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (!out) return false;
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info, sizeof info, 1, out);
    std::fwrite(pixels.data(), 1, pixels.size(), out);
    std::fclose(out);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: observer <answer-id> <screenshot-dir> <seconds>\n");
        return 2;
    }
    const int answer = std::wcstol(argv[1], nullptr, 10);
    const std::wstring dir = argv[2];
    const DWORD seconds = std::wcstoul(argv[3], nullptr, 10);

    g_closeDuringRepair = argc > 4 && std::wstring(argv[4]) == L"close-during-full-repair";
    HWND status = WaitFor(L"CorvaneStatusWindow", nullptr, seconds);
    if (!status) {
        std::fprintf(stderr, "observer: no status window within %lu s\n", seconds);
        return 1;
    }
    g_status = status;
    ::GetWindowThreadProcessId(status, &g_processId);
    // Before the message box covers it: both are centred on the screen.
    ::Sleep(300);
    SaveScreenshot(status, dir + L"\\status-window.bmp");

    // The message box is a dialog of class #32770 with the program's title.
    HWND box = WaitFor(L"#32770", L"Tessaline", seconds, WatchStatus);
    if (!box) {
        std::fprintf(stderr, "observer: no message box within %lu s\n", seconds);
        return 1;
    }
    ::Sleep(500);  // let both windows finish painting
    std::printf("handles.after-first-attempt=%ld\nhandles.end=%ld\n", g_handlesAfterFirstAttempt,
                HandleCount(g_processId));
    if (g_closeDuringRepair) Print("status.closed", g_closed ? L"yes" : L"no");
    std::printf("status.repair-reads=%d\nstatus.unanswered-reads=%d\n", g_repairReads,
                g_unanswered);

    if (::IsWindow(status)) {
        Print("status.caption", Text(status));
        Print("status.label", Text(::GetWindow(status, GW_CHILD)));
    } else {
        Print("status.caption", L"");
    }
    Print("box.title", Text(box));
    Print("box.text", Text(::GetDlgItem(box, 0xFFFF)));
    SaveScreenshot(box, dir + L"\\message-box.bmp");
    SaveScreenshot(nullptr, dir + L"\\desktop.bmp");

    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    return 0;
}
