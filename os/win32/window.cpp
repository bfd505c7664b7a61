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
    void SetLabel(const std::wstring& text) {
        if (!label_) return;
        ::SetWindowTextW(label_, text.c_str());
        FitLabel(text);
        // The workflow blocks in WMI right after setting a status; paint it
        // now so the user never looks at a blank window.
        ::UpdateWindow(hwnd_);
    }
    void Show() {
        ::ShowWindow(hwnd_, SW_SHOWNORMAL);
        ::SetForegroundWindow(hwnd_);
    }

    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd() const { return hwnd_; }

private:
    StatusWindow() = default;
    void FitLabel(const std::wstring& text);

    HWND hwnd_ = nullptr;
    HWND label_ = nullptr;
    win32::unique_hfont font_;
    int labelWidth_ = 0;
    int labelHeight_ = 0;
};

std::unique_ptr<StatusWindow> g_window;
void (*g_sessionEndHandler)(bool sessionEnds) = nullptr;

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
    } else if (message == WM_ENDSESSION && g_sessionEndHandler) {
        // The query before it is answered at once (DefWindowProc: yes); this
        // says whether the session really ends. Once the window has answered,
        // Windows may end the process without a further word.
        g_sessionEndHandler(wParam != FALSE);
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

int ScreenDpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
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

// The label is as high as its text needs in the font Windows gives it: with
// larger text a status wraps onto a second line. It never gets lower than
// designed, and the window grows by what the label grows.
void StatusWindow::FitLabel(const std::wstring& text) {
    const WindowDc dc(label_);
    if (!dc.get()) return;
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(label_, WM_GETFONT, 0, 0));
    const HGDIOBJ previous = font ? ::SelectObject(dc.get(), font) : nullptr;
    RECT needed{0, 0, labelWidth_, 0};
    ::DrawTextW(dc.get(), text.c_str(), -1, &needed,
                DT_CALCRECT | DT_WORDBREAK | DT_CENTER | DT_NOPREFIX);
    if (previous) ::SelectObject(dc.get(), previous);
    const int grow = needed.bottom - labelHeight_;
    if (grow <= 0) return;
    labelHeight_ += grow;
    ::SetWindowPos(label_, nullptr, 0, 0, labelWidth_, labelHeight_,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT frame{};
    if (!::GetWindowRect(hwnd_, &frame)) return;
    ::SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + grow,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::unique_ptr<StatusWindow> StatusWindow::Create(const StatusWindowLayout& layout) {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    if (!RegisterOnce(instance)) return nullptr;

    const int dpi = ScreenDpi();
    auto pixels = [dpi](int twips) { return ::MulDiv(twips, dpi, 1440); };

    // A fixed frame: a caption with close and minimise, no sizing, no
    // maximise; WS_EX_APPWINDOW keeps a taskbar button.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    const DWORD exStyle = WS_EX_APPWINDOW;
    RECT frame{0, 0, pixels(layout.clientWidthTwips), pixels(layout.clientHeightTwips)};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;

    RECT work{};
    if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
        work = RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    const int x = work.left + ((work.right - work.left) - width) / 2;
    const int y = work.top + ((work.bottom - work.top) - height) / 2;

    std::unique_ptr<StatusWindow> window(new StatusWindow);
    if (!::CreateWindowExW(exStyle, win32::kStatusWindowClass, layout.caption.c_str(), style, x, y,
                           width, height, nullptr, nullptr, instance, window.get())) {
        return nullptr;
    }

    // The normal font of a modern window, not the old bold system font.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        window->font_.reset(::CreateFontIndirectW(&metrics.lfMessageFont));

    window->labelWidth_ = pixels(layout.labelWidthTwips);
    window->labelHeight_ = pixels(layout.labelHeightTwips);
    window->label_ = ::CreateWindowExW(
        0, L"STATIC", layout.labelText.c_str(), WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOPREFIX,
        pixels(layout.labelLeftTwips), pixels(layout.labelTopTwips), window->labelWidth_,
        window->labelHeight_, window->hwnd_, nullptr, instance, nullptr);
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

void StatusWindowSetLabel(const std::wstring& text) {
    if (g_window) g_window->SetLabel(text);
}

void StatusWindowUnload() { g_window.reset(); }

void StatusWindowOnSessionEnd(void (*handler)(bool sessionEnds)) { g_sessionEndHandler = handler; }

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
