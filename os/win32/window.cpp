// The status window and the message box.
#include "os/os.h"
#include "os/win32/handles.h"
#include "os/win32/helpers.h"

#include <memory>

namespace os {

namespace {

// The window keeps its state in its own object, reached through
// GWLP_USERDATA; the module holds only the owner of that object.
class StatusWindow {
public:
    static std::unique_ptr<StatusWindow> Create(const StatusWindowLayout& layout);
    ~StatusWindow() {
        if (hwnd_) ::DestroyWindow(hwnd_);
    }
    StatusWindow(const StatusWindow&) = delete;
    StatusWindow& operator=(const StatusWindow&) = delete;

    bool alive() const { return hwnd_ != nullptr; }
    void SetCaption(const std::wstring& text) {
        if (hwnd_) ::SetWindowTextW(hwnd_, text.c_str());
    }
    void SetLabel(const std::wstring& text, int labelHeight, int clientHeight);
    void Show() {
        ::ShowWindow(hwnd_, SW_SHOWNORMAL);
        ::SetForegroundWindow(hwnd_);
    }

    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd() const { return hwnd_; }

private:
    StatusWindow() = default;

    HWND hwnd_ = nullptr;
    HWND label_ = nullptr;
    win32::unique_hfont font_;
    int labelWidth_ = 0;
    int clientWidth_ = 0;
};

std::unique_ptr<StatusWindow> g_window;
void (*g_sessionEndHandler)(SessionEnd end) = nullptr;
SessionEnd g_sessionEnd = SessionEnd::None;

LRESULT CALLBACK StatusWindow::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<StatusWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        self = static_cast<StatusWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else if (message == WM_CLOSE) {
        // The user's close only hides the window: the workflow carries on
        // regardless, and Windows tells the end of the session to the
        // windows that exist, shown or not.
        ::ShowWindow(hwnd, SW_HIDE);
        return 0;
    } else if (message == WM_ENDSESSION) {
        // The query before it is answered at once (DefWindowProc: yes); this
        // says whether the session really ends, or whether the Restart
        // Manager wants the application closed. Once the window has
        // answered, Windows may end the process without a further word, so
        // the handler does what must not be lost before returning.
        SessionEnd heard = SessionEnd::None;
        if (wParam)
            heard = (lParam & ENDSESSION_CLOSEAPP) ? SessionEnd::CloseApp : SessionEnd::Ends;
        if (g_sessionEnd == SessionEnd::None) g_sessionEnd = heard;
        if (g_sessionEndHandler) g_sessionEndHandler(heard);
        return 0;
    } else if (message == WM_NCDESTROY && self) {
        // Unloaded: later texts go nowhere.
        self->hwnd_ = nullptr;
        self->label_ = nullptr;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

bool RegisterOnce(HINSTANCE instance) {
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (::GetClassInfoExW(instance, win32::kStatusWindowClass, &existing)) return true;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = StatusWindow::Proc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    // hIconSm stays null: Windows then takes the icon file's small image.
    wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.lpszClassName = win32::kStatusWindowClass;
    return ::RegisterClassExW(&wc) != 0;
}

// A window's device context, released on every way out.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

}  // namespace

// The frame style: a caption with close and minimise, no sizing, no
// maximise; WS_EX_APPWINDOW keeps a taskbar button.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = WS_EX_APPWINDOW;

// A font of the system's, made for the window; null for the default one.
HFONT MakeFont(WindowFont font) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (font != WindowFont::Message ||
        !::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return nullptr;
    return ::CreateFontIndirectW(&metrics.lfMessageFont);
}

// The window's size for a client area of the given size.
SIZE FrameSize(int clientWidth, int clientHeight) {
    RECT frame{0, 0, clientWidth, clientHeight};
    ::AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

void StatusWindow::SetLabel(const std::wstring& text, int labelHeight, int clientHeight) {
    if (!label_) return;
    ::SetWindowTextW(label_, text.c_str());
    ::SetWindowPos(label_, nullptr, 0, 0, labelWidth_, labelHeight,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // Minimised, the window has no client area to measure: its restored
    // size is the one that grows. The placement's own showCmd would be
    // SW_SHOWMINIMIZED, which activates the window; and a window the user
    // closed (hidden) stays hidden whatever the status does.
    const SIZE frame = FrameSize(clientWidth_, clientHeight);
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (::IsIconic(hwnd_) && ::GetWindowPlacement(hwnd_, &placement)) {
        placement.rcNormalPosition.right = placement.rcNormalPosition.left + frame.cx;
        placement.rcNormalPosition.bottom = placement.rcNormalPosition.top + frame.cy;
        placement.showCmd = ::IsWindowVisible(hwnd_) ? SW_SHOWMINNOACTIVE : SW_HIDE;
        ::SetWindowPlacement(hwnd_, &placement);
    } else {
        ::SetWindowPos(hwnd_, nullptr, 0, 0, frame.cx, frame.cy,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The workflow blocks in WMI right after setting a status; paint it
    // now so the user never looks at a blank window.
    ::UpdateWindow(hwnd_);
}

std::unique_ptr<StatusWindow> StatusWindow::Create(const StatusWindowLayout& layout) {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    if (!RegisterOnce(instance)) return nullptr;

    const SIZE frame = FrameSize(layout.clientWidth, layout.clientHeight);
    RECT work{};
    if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
        work = RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    const int x = work.left + ((work.right - work.left) - frame.cx) / 2;
    const int y = work.top + ((work.bottom - work.top) - frame.cy) / 2;

    std::unique_ptr<StatusWindow> window(new StatusWindow);
    if (!::CreateWindowExW(kExStyle, win32::kStatusWindowClass, layout.caption.c_str(), kStyle, x,
                           y, frame.cx, frame.cy, nullptr, nullptr, instance, window.get())) {
        return nullptr;
    }
    window->font_.reset(MakeFont(layout.font));
    window->labelWidth_ = layout.labelWidth;
    window->clientWidth_ = layout.clientWidth;
    window->label_ = ::CreateWindowExW(
        0, L"STATIC", layout.labelText.c_str(), WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOPREFIX,
        layout.labelLeft, layout.labelTop, layout.labelWidth, layout.labelHeight, window->hwnd_,
        nullptr, instance, nullptr);
    if (window->label_ && window->font_)
        ::SendMessageW(window->label_, WM_SETFONT, reinterpret_cast<WPARAM>(window->font_.get()),
                       FALSE);
    return window;
}

void StatusWindowShow(const StatusWindowLayout& layout) {
    if (!g_window || !g_window->alive()) g_window = StatusWindow::Create(layout);
    if (g_window) g_window->Show();
}

void StatusWindowSetCaption(const std::wstring& caption) {
    if (g_window) g_window->SetCaption(caption);
}

void StatusWindowSetLabel(const std::wstring& text, int labelHeight, int clientHeight) {
    if (g_window) g_window->SetLabel(text, labelHeight, clientHeight);
}

int ScreenDpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

int TextHeight(const std::wstring& text, int width, WindowFont font) {
    const WindowDc dc(nullptr);
    if (!dc.get()) return 0;
    // A screen DC starts with the system's default font.
    const win32::unique_hfont made(MakeFont(font));
    const HGDIOBJ previous = made ? ::SelectObject(dc.get(), made.get()) : nullptr;
    RECT needed{0, 0, width, 0};
    const int height = ::DrawTextW(dc.get(), text.c_str(), -1, &needed,
                                   DT_CALCRECT | DT_WORDBREAK | DT_CENTER | DT_NOPREFIX);
    if (previous) ::SelectObject(dc.get(), previous);
    return height > 0 ? needed.bottom : 0;
}

void StatusWindowUnload() { g_window.reset(); }

void StatusWindowOnSessionEnd(void (*handler)(SessionEnd end)) { g_sessionEndHandler = handler; }

SessionEnd SessionEndHeard() { return g_sessionEnd; }

int ShowMessageBox(const std::wstring& text, const std::wstring& title, uint32_t style) {
    return ::MessageBoxW(nullptr, text.c_str(), title.c_str(), style);
}

}  // namespace os

const wchar_t win32::kStatusWindowClass[] = L"CorvaneStatusWindow";

HWND win32::StatusWindowHandle() {
    // Hidden by the user's close, it owns nothing: the shell's prompt would
    // open behind other windows.
    return os::g_window && os::g_window->alive() && ::IsWindowVisible(os::g_window->hwnd())
               ? os::g_window->hwnd()
               : nullptr;
}
