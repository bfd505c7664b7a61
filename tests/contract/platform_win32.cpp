#include "contract/platform.h"

#include <windows.h>

#include <vector>

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

bool ShutdownPrivilegeEnabled() {
    LUID shutdown{};
    if (!::LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &shutdown)) return false;
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    bool enabled = false;
    if (size && ::GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) {
        const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
            if (entry.Luid.LowPart == shutdown.LowPart && entry.Luid.HighPart == shutdown.HighPart)
                enabled = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    ::CloseHandle(token);
    return enabled;
}

}  // namespace platform
