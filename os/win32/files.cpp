// File tests and WOW64 redirection.
#include "os/os.h"
#include "os/win32/handles.h"
#include "os/win32/helpers.h"

#include <vector>

namespace os {

int32_t OpenFileExists(const std::wstring& path) {
    OFSTRUCT info{};
    return ::OpenFile(win32::ToAnsi(path).c_str(), &info, OF_EXIST);
}

bool QueryFileAttributes(const std::wstring& path, uint32_t& attributes, uint32_t& error) {
    const DWORD value = ::GetFileAttributesW(path.c_str());
    if (value == INVALID_FILE_ATTRIBUTES) {
        error = ::GetLastError();
        return false;
    }
    attributes = value;
    return true;
}

namespace {

void Fill(const WIN32_FIND_DATAW& data, FindEntry& entry) {
    entry.name = data.cFileName;
    entry.attributes = data.dwFileAttributes;
}

}  // namespace

uintptr_t FindFirst(const std::wstring& pattern, FindEntry& entry, uint32_t& error) {
    WIN32_FIND_DATAW data{};
    HANDLE find = ::FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        return 0;
    }
    Fill(data, entry);
    return reinterpret_cast<uintptr_t>(find);
}

bool FindNext(uintptr_t find, FindEntry& entry) {
    WIN32_FIND_DATAW data{};
    if (!::FindNextFileW(reinterpret_cast<HANDLE>(find), &data)) return false;
    Fill(data, entry);
    return true;
}

void FindClose(uintptr_t find) {
    if (find) ::FindClose(reinterpret_cast<HANDLE>(find));
}

std::wstring SystemDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

std::wstring WindowsDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

uint32_t Wow64DisableFsRedirection(uintptr_t& oldValue) {
    static auto* disable = win32::Kernel32Function<decltype(&::Wow64DisableWow64FsRedirection)>(
        "Wow64DisableWow64FsRedirection");
    if (!disable) return ERROR_PROC_NOT_FOUND;
    PVOID value = nullptr;
    if (disable(&value)) oldValue = reinterpret_cast<uintptr_t>(value);
    return 0;
}

uint32_t Wow64RevertFsRedirection(uintptr_t oldValue) {
    static auto* revert = win32::Kernel32Function<decltype(&::Wow64RevertWow64FsRedirection)>(
        "Wow64RevertWow64FsRedirection");
    if (!revert) return ERROR_PROC_NOT_FOUND;
    revert(reinterpret_cast<PVOID>(oldValue));
    return 0;
}

}  // namespace os
