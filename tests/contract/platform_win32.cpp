#include "contract/platform.h"

#include <windows.h>

#include <cstdio>

namespace platform {

namespace {

std::wstring Text(HWND hwnd) {
    wchar_t buffer[512] = {};
    ::GetWindowTextW(hwnd, buffer, 512);
    return buffer;
}

}  // namespace

void Prepare() {}

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

bool Is64BitWindows() {
    wchar_t buffer[8];
    return ::GetEnvironmentVariableW(L"ProgramFiles(x86)", buffer, 8) > 0;
}

std::wstring ScratchDirectory() {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring dir = std::wstring(temp) + L"corvane-contract";
    ::CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

void CreateDirectoryAt(const std::wstring& path) { ::CreateDirectoryW(path.c_str(), nullptr); }

void CreateFileAt(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
}

namespace {

// Runs `action` with WOW64 redirection off, so System32 is the native one.
template <typename Action>
void Natively(Action action) {
    using Disable = BOOL(WINAPI*)(PVOID*);
    using Revert = BOOL(WINAPI*)(PVOID);
    HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    auto disable = reinterpret_cast<Disable>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "Wow64DisableWow64FsRedirection")));
    auto revert = reinterpret_cast<Revert>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "Wow64RevertWow64FsRedirection")));
    PVOID old = nullptr;
    const bool disabled = disable && disable(&old);
    action();
    if (disabled) revert(old);
}

std::wstring SystemFile(const std::wstring& name) {
    wchar_t dir[MAX_PATH] = {};
    ::GetSystemDirectoryW(dir, MAX_PATH);
    return std::wstring(dir) + L"\\" + name;
}

}  // namespace

std::wstring PlaceNativeSystemFile(const std::wstring& name) {
    const std::wstring path = SystemFile(name);
    Natively([&] { CreateFileAt(path); });
    return path;
}

void RemoveNativeSystemFile(const std::wstring& name) {
    const std::wstring path = SystemFile(name);
    Natively([&] { ::DeleteFileW(path.c_str()); });
}

// The recorder is built beside the test program, in tests/wine/.
std::wstring RecorderAt(const std::wstring& directory) {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring built = self;
    built = built.substr(0, built.find_last_of(L'\\')) + L"\\wine\\recorder.exe";
    const std::wstring path = directory + L"\\recorder.exe";
    ::CopyFileW(built.c_str(), path.c_str(), FALSE);
    ::DeleteFileW((path + L".log").c_str());
    return path;
}

std::wstring RecordedStarts(const std::wstring& recorder) {
    std::wstring log;
    FILE* in = _wfopen((recorder + L".log").c_str(), L"r, ccs=UTF-8");
    if (!in) return log;
    wchar_t line[1024];
    while (std::fgetws(line, 1024, in)) log += line;
    std::fclose(in);
    return log;
}

}  // namespace platform
