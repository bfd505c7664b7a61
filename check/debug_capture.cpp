#include "check/debug_capture.h"

namespace check {

namespace {

constexpr DWORD kBufferSize = 4096;  // a process id, then the text and its NUL

// The text as the ANSI code page has it.
std::wstring FromAnsi(const char* text, int length) {
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
    std::wstring wide(size > 0 ? size : 0, L'\0');
    if (size > 0) ::MultiByteToWideChar(CP_ACP, 0, text, length, &wide[0], size);
    return wide;
}

}  // namespace

DebugOutputCapture::DebugOutputCapture() {
    // The three objects OutputDebugString looks for. Any of them there
    // already means another reader, which would take the messages.
    const auto created = [](HANDLE handle) {
        return handle && ::GetLastError() != ERROR_ALREADY_EXISTS;
    };
    bufferReady_.reset(::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
    if (created(bufferReady_.get()))
        dataReady_.reset(::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
    if (created(dataReady_.get()))
        mapping_.reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            kBufferSize, L"DBWIN_BUFFER"));
    if (created(mapping_.get()))
        view_.reset(
            static_cast<const char*>(::MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 0)));
    if (!view_) {
        error_ = ::GetLastError();
        if (error_ == 0) error_ = ERROR_ALREADY_EXISTS;
        return;
    }
    reader_ = std::thread([this] { Read(); });
}

DebugOutputCapture::~DebugOutputCapture() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
}

void DebugOutputCapture::Read() {
    ::SetEvent(bufferReady_.get());
    while (!stop_) {
        // A writer waits for the buffer, fills it, and says so.
        if (::WaitForSingleObject(dataReady_.get(), 100) != WAIT_OBJECT_0) continue;
        DWORD processId = 0;
        ::CopyMemory(&processId, view_.get(), sizeof processId);
        const char* text = view_.get() + sizeof processId;
        int length = 0;
        while (length < static_cast<int>(kBufferSize - sizeof processId) && text[length]) ++length;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            messages_.emplace_back(processId, FromAnsi(text, length));
        }
        ::SetEvent(bufferReady_.get());
    }
}

std::vector<std::wstring> DebugOutputCapture::MessagesOf(DWORD processId) {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::wstring> own;
    for (const auto& message : messages_)
        if (message.first == processId) own.push_back(message.second);
    return own;
}

}  // namespace check
