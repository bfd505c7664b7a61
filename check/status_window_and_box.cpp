#include "check/status_window_and_box.h"

#include "os/win32/helpers.h"
#include "workflow/workflow.h"

namespace check {

namespace {

constexpr int kMessageTextId = 0xFFFF;  // the static control of a message box's text

struct Search {
    const wchar_t* className;
    const wchar_t* title;  // null: any
    DWORD processId;       // 0: any
    HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM parameter) {
    auto& search = *reinterpret_cast<Search*>(parameter);
    wchar_t className[64] = {};
    DWORD processId = 0;
    ::GetClassNameW(window, className, 64);
    ::GetWindowThreadProcessId(window, &processId);
    if (::lstrcmpW(className, search.className) != 0 || !::IsWindowVisible(window) ||
        (search.processId != 0 && processId != search.processId) ||
        (search.title && Text(window) != search.title))
        return TRUE;
    search.found = window;
    return FALSE;
}

HWND FindVisible(const wchar_t* className, const wchar_t* title, DWORD processId) {
    Search search{className, title, processId, nullptr};
    ::EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The window's text, once it answered within five seconds.
bool Ask(HWND window, std::wstring& text) {
    wchar_t buffer[4096] = {};
    const bool ok =
        window && ::SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer),
                                        SMTO_ABORTIFHUNG, 5000, nullptr) != 0;
    text = buffer;
    return ok;
}

}  // namespace

std::wstring Text(HWND window, bool* answered) {
    std::wstring text;
    const bool ok = Ask(window, text);
    if (answered) *answered = ok || !::IsWindow(window);
    return text;
}

HWND StatusWindow(DWORD processId) {
    return FindVisible(win32::kStatusWindowClass, nullptr, processId);
}

std::optional<std::wstring> StatusLabel(HWND status) {
    std::wstring text;
    if (!Ask(::GetWindow(status, GW_CHILD), text)) return std::nullopt;
    return text;
}

HWND FinalBox(DWORD processId) {
    return FindVisible(L"#32770", workflow::kFinalMessageTitle, processId);
}

Box ReadBox(HWND box) {
    Box read;
    read.title = Text(box);
    read.text = Text(::GetDlgItem(box, kMessageTextId));
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[32] = {};
        ::GetClassNameW(child, className, 32);
        const LONG style = ::GetWindowLongW(child, GWL_STYLE);
        if (::lstrcmpiW(className, L"Button") == 0) read.buttons.push_back(Text(child));
        if (::lstrcmpiW(className, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON)
            read.icon = true;
    }
    read.topmost = (::GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    read.foreground = ::GetForegroundWindow() == box;
    return read;
}

void Press(HWND box, int buttonId) {
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), 0);
}

}  // namespace check
