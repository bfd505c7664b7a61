// Debugger output, time, messages, the environment and system texts.
#include "os/os.h"
#include "os/win32/handles.h"
#include "os/win32/helpers.h"

#include <vector>

namespace os {

void OutputDebugText(const std::wstring& text) {
    ::OutputDebugStringA(win32::ToAnsi(text).c_str());
}

LocalTime GetLocalTime() {
    SYSTEMTIME st{};
    ::GetLocalTime(&st);
    LocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.milliseconds = st.wMilliseconds;
    return t;
}

void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

namespace {
// A quit message put back into the queue is new input again at once: waits
// then stop waking for input, or they would never sleep.
bool quitKept = false;
}  // namespace

void DispatchPendingMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Not ours to act on while the workflow runs; keep it for later.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            quitKept = true;
            break;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

WaitResult WaitForObjectOrInput(Handle handle, uint32_t milliseconds) {
    HANDLE object = reinterpret_cast<HANDLE>(handle);
    switch (
        ::MsgWaitForMultipleObjects(1, &object, FALSE, milliseconds, quitKept ? 0 : QS_ALLINPUT)) {
    case WAIT_OBJECT_0:
        return WaitResult::Signalled;
    case WAIT_OBJECT_0 + 1:
        return WaitResult::Input;
    case WAIT_TIMEOUT:
        return WaitResult::TimedOut;
    default:
        return WaitResult::Failed;
    }
}

std::wstring ExecutablePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);  // truncated: try a larger buffer
    }
}

std::wstring EnvironmentValue(const std::wstring& name) {
    const DWORD size = ::GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (size == 0) return {};
    std::vector<wchar_t> buffer(size);
    const DWORD length = ::GetEnvironmentVariableW(name.c_str(), buffer.data(), size);
    if (length == 0 || length >= size) return {};
    return std::wstring(buffer.data(), length);
}

std::wstring FormatSystemMessage(uint32_t code) {
    // Doubled while Windows says the buffer is too small, up to its limit:
    // "The output buffer cannot be larger than 64K bytes" (32K characters).
    for (DWORD size = 256; size <= 32768; size *= 2) {
        std::vector<wchar_t> buffer(size);
        const DWORD length =
            ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, buffer.data(), size, nullptr);
        if (length != 0) return std::wstring(buffer.data(), length);
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    }
    return {};
}

}  // namespace os
