// The registry of the local machine.
#include "os/os.h"
#include "os/win32/handles.h"

namespace os {

namespace {

void CloseKey(HKEY key) { ::RegCloseKey(key); }
using unique_hkey = win32::UniqueResource<HKEY, CloseKey, 0>;

// The native view from a 32-bit process; 32-bit Windows ignores the flag.
LONG OpenNativeKey(const std::wstring& subKey, REGSAM access, unique_hkey& key) {
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, access | KEY_WOW64_64KEY,
                           key.put());
}

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

}  // namespace os
