// The one owner of a kernel handle: closed once, on every way out of scope.
#pragma once

#include "os/os.h"

#include <utility>

namespace CommonModule {

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(os::Handle handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.handle_, 0));
        return *this;
    }
    ~UniqueHandle() { reset(); }

    os::Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != 0; }
    void reset(os::Handle handle = 0) {
        if (handle_ != 0) os::CloseHandle(handle_);
        handle_ = handle;
    }

private:
    os::Handle handle_ = 0;
};

}  // namespace CommonModule
