// What programs write to the debugger output (OutputDebugString), read as a
// debug-output viewer reads it: through the shared buffer Windows fills when
// a reader waits on it. Nothing is attached to the program, which runs as it
// always does (a debugger would change IsDebuggerPresent and exceptions).
#pragma once

#include "os/win32/handles.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace check {

class DebugOutputCapture {
public:
    DebugOutputCapture();  // starts reading
    ~DebugOutputCapture();
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;

    // 0 while reading; otherwise why not (ERROR_ALREADY_EXISTS: another
    // program, such as a debug-output viewer, reads the buffer).
    DWORD error() const { return error_; }

    // The messages one process wrote, in order.
    std::vector<std::wstring> MessagesOf(DWORD processId);

private:
    void Read();

    static void Unmap(const char* view) { ::UnmapViewOfFile(view); }
    using Handle = win32::UniqueResource<HANDLE, ::CloseHandle, 0>;

    DWORD error_ = 0;
    Handle bufferReady_, dataReady_, mapping_;
    win32::UniqueResource<const char*, Unmap, 0> view_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
    std::mutex mutex_;
    std::vector<std::pair<DWORD, std::wstring>> messages_;
};

}  // namespace check
