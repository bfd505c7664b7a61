// Owners of the handles Corvane opens: each closed once, on every way
// out of scope.
#pragma once

#include "os/os.h"

#include <utility>

namespace base {

// One owner for one kind of handle: Close releases it, 0 means none.
template <void (*Close)(uintptr_t)>
class UniqueOsHandle {
public:
    UniqueOsHandle() = default;
    explicit UniqueOsHandle(uintptr_t handle) : handle_(handle) {}
    UniqueOsHandle(const UniqueOsHandle&) = delete;
    UniqueOsHandle& operator=(const UniqueOsHandle&) = delete;
    UniqueOsHandle(UniqueOsHandle&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
    UniqueOsHandle& operator=(UniqueOsHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.handle_, 0));
        return *this;
    }
    ~UniqueOsHandle() { reset(); }

    uintptr_t get() const { return handle_; }
    explicit operator bool() const { return handle_ != 0; }
    void reset(uintptr_t handle = 0) {
        if (handle_ != 0) Close(handle_);
        handle_ = handle;
    }

private:
    uintptr_t handle_ = 0;
};

using UniqueHandle = UniqueOsHandle<os::CloseHandle>;  // processes
using UniqueFind = UniqueOsHandle<os::FindClose>;      // listings

// Private namespaces, closed with ClosePrivateNamespace.
using UniqueNamespace = UniqueOsHandle<os::ClosePrivateNamespace>;

// Service control manager handles, closed with CloseServiceHandle.
using UniqueServiceHandle = UniqueOsHandle<os::CloseServiceHandle>;

}  // namespace base
