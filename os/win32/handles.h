// Move-only owners for Windows handles and COM objects: one owner each, so
// nothing is closed twice and nothing leaks on an early return.
#pragma once

#include <windows.h>
// After windows.h, which it relies on.
#include <oleauto.h>

#include <utility>

namespace win32 {

// One owning template; each handle kind names its close function and the
// value that means "no handle".
template <typename Handle, auto Close, auto Invalid>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(Handle handle) : handle_(handle) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : handle_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Handle(Invalid); }
    Handle release() { return std::exchange(handle_, Handle(Invalid)); }

    // Keeps GetLastError intact, so a caller can close and then report.
    void reset(Handle handle = Handle(Invalid)) {
        if (handle_ != Handle(Invalid)) {
            const DWORD lastError = ::GetLastError();
            Close(handle_);
            ::SetLastError(lastError);
        }
        handle_ = handle;
    }

    // Empties the owner before handing out its address to an API that fills it.
    Handle* put() {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = Handle(Invalid);
};

inline void DeleteGdiFont(HFONT font) { ::DeleteObject(font); }

using unique_hfont = UniqueResource<HFONT, DeleteGdiFont, 0>;

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    void reset() {
        if (ptr_) ptr_->Release();
        ptr_ = nullptr;
    }
    T** put() {
        reset();
        return &ptr_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

private:
    T* ptr_ = nullptr;
};

class ScopedBstr {
public:
    explicit ScopedBstr(const wchar_t* text) : bstr_(::SysAllocString(text)) {}
    ScopedBstr() = default;
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;
    ~ScopedBstr() { ::SysFreeString(bstr_); }
    BSTR get() const { return bstr_; }
    BSTR* put() {
        ::SysFreeString(bstr_);
        bstr_ = nullptr;
        return &bstr_;
    }

private:
    BSTR bstr_ = nullptr;
};

class ScopedVariant {
public:
    ScopedVariant() { ::VariantInit(&variant_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    ~ScopedVariant() { ::VariantClear(&variant_); }
    VARIANT* get() { return &variant_; }
    VARIANT* put() {
        ::VariantClear(&variant_);
        return &variant_;
    }

private:
    VARIANT variant_;
};

// COM for the current thread, for as long as the scope lasts.
class ScopedComInit {
public:
    explicit ScopedComInit(DWORD flags = COINIT_APARTMENTTHREADED)
        : hr_(::CoInitializeEx(nullptr, flags)) {}
    ScopedComInit(const ScopedComInit&) = delete;
    ScopedComInit& operator=(const ScopedComInit&) = delete;
    ~ScopedComInit() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    // RPC_E_CHANGED_MODE: COM is already up in another mode, which serves too.
    bool ok() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }
    HRESULT result() const { return hr_; }

private:
    HRESULT hr_;
};

}  // namespace win32
