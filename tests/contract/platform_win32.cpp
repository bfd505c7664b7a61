#include "contract/platform.h"

#include <windows.h>

namespace platform {

namespace {

std::wstring Text(HWND hwnd) {
    wchar_t buffer[512] = {};
    ::GetWindowTextW(hwnd, buffer, 512);
    return buffer;
}

}  // namespace

void Prepare() {}

void SetEnvironment(const std::wstring& name, const std::wstring& value) {
    ::SetEnvironmentVariableW(name.c_str(), value.c_str());
}

void UnsetEnvironment(const std::wstring& name) {
    ::SetEnvironmentVariableW(name.c_str(), nullptr);
}

WindowView StatusWindow() {
    WindowView view;
    HWND hwnd = ::FindWindowW(L"CorvaneStatusWindow", nullptr);
    if (!hwnd) return view;
    view.exists = true;
    view.visible = ::IsWindowVisible(hwnd) != FALSE;
    view.caption = Text(hwnd);
    if (HWND label = ::GetWindow(hwnd, GW_CHILD)) view.label = Text(label);
    RECT client{};
    ::GetClientRect(hwnd, &client);
    view.clientWidth = client.right;
    view.clientHeight = client.bottom;
    return view;
}

int ScreenDpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi;
}

std::wstring ExecutableName() { return L"corvane_contract_win32.exe"; }

}  // namespace platform
