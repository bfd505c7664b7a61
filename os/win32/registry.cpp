// The registry of the local machine.
#include "os/os.h"
#include "os/win32/handles.h"
#include "os/win32/helpers.h"

namespace os {

namespace {

void CloseKey(HKEY key) { ::RegCloseKey(key); }
using unique_hkey = win32::UniqueResource<HKEY, CloseKey, 0>;

// The native view from a 32-bit process; 32-bit Windows ignores the flag.
LONG OpenNativeKey(const std::wstring& subKey, REGSAM access, unique_hkey& key) {
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, access | KEY_WOW64_64KEY,
                           key.put());
}

// RegDeleteKeyExW names the view; Windows XP 32-bit lacks it and has no
// other view to name.
using RegDeleteKeyExWFunction = LONG(WINAPI*)(HKEY key, LPCWSTR subKey, REGSAM samDesired,
                                              DWORD reserved);

}  // namespace

bool RegistryKeyExists(const std::wstring& subKey) {
    unique_hkey key;
    const LONG result = OpenNativeKey(subKey, KEY_QUERY_VALUE, key);
    return result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED;
}

uint32_t RegistryQueryValue(const std::wstring& subKey, const std::wstring& name,
                            RegistryValue& value) {
    unique_hkey key;
    LONG result = OpenNativeKey(subKey, KEY_QUERY_VALUE, key);
    if (result != ERROR_SUCCESS) return static_cast<uint32_t>(result);
    DWORD type = 0;
    DWORD size = 0;
    std::vector<uint8_t> data;
    // The value may grow between the two calls: ask again until it fits.
    do {
        result = ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size);
        if (result != ERROR_SUCCESS) return static_cast<uint32_t>(result);
        data.resize(size);
        result = ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type,
                                    data.empty() ? nullptr : data.data(), &size);
    } while (result == ERROR_MORE_DATA);
    if (result != ERROR_SUCCESS) return static_cast<uint32_t>(result);
    data.resize(size);
    value.type = type;
    value.data = std::move(data);
    return 0;
}

uint32_t RegistrySetValue(const std::wstring& subKey, const std::wstring& name,
                          const RegistryValue& value) {
    unique_hkey key;
    LONG result = OpenNativeKey(subKey, KEY_SET_VALUE, key);
    if (result != ERROR_SUCCESS) return static_cast<uint32_t>(result);
    result = ::RegSetValueExW(key.get(), name.c_str(), 0, value.type,
                              value.data.empty() ? nullptr : value.data.data(),
                              static_cast<DWORD>(value.data.size()));
    return static_cast<uint32_t>(result);
}

uint32_t RegistryDeleteValue(const std::wstring& subKey, const std::wstring& name) {
    unique_hkey key;
    LONG result = OpenNativeKey(subKey, KEY_SET_VALUE, key);
    if (result != ERROR_SUCCESS) return static_cast<uint32_t>(result);
    return static_cast<uint32_t>(::RegDeleteValueW(key.get(), name.c_str()));
}

uint32_t RegistryCreateKey(const std::wstring& subKey, bool& created) {
    unique_hkey key;
    DWORD disposition = 0;
    const LONG result =
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_QUERY_VALUE | KEY_WOW64_64KEY, nullptr, key.put(), &disposition);
    if (result == ERROR_SUCCESS) created = disposition == REG_CREATED_NEW_KEY;
    return static_cast<uint32_t>(result);
}

uint32_t RegistryFlushKey(const std::wstring& subKey) {
    unique_hkey key;
    LONG result = OpenNativeKey(subKey, KEY_QUERY_VALUE, key);
    if (result != ERROR_SUCCESS) return static_cast<uint32_t>(result);
    return static_cast<uint32_t>(::RegFlushKey(key.get()));
}

uint32_t RegistryDeleteKey(const std::wstring& subKey) {
    // RegDeleteKeyEx takes a key's values with it; only an empty one goes.
    {
        unique_hkey key;
        LONG result = OpenNativeKey(subKey, KEY_QUERY_VALUE, key);
        DWORD subKeys = 0, values = 0;
        if (result == ERROR_SUCCESS)
            result = ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr,
                                        nullptr, &values, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) return static_cast<uint32_t>(result);
        if (subKeys != 0 || values != 0) return ERROR_DIR_NOT_EMPTY;
    }
    if (const auto deleteKeyEx =
            win32::SystemFunction<RegDeleteKeyExWFunction>(L"advapi32.dll", "RegDeleteKeyExW"))
        return static_cast<uint32_t>(
            deleteKeyEx(HKEY_LOCAL_MACHINE, subKey.c_str(), KEY_WOW64_64KEY, 0));
    return static_cast<uint32_t>(::RegDeleteKeyW(HKEY_LOCAL_MACHINE, subKey.c_str()));
}

}  // namespace os
