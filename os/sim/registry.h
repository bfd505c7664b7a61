// The simulated machine's registry: the keys of HKEY_LOCAL_MACHINE with
// their values, and the two views a 32-bit process has of it on 64-bit
// Windows.
#pragma once

#include "os/os.h"

#include <map>
#include <optional>
#include <string>

namespace sim {

struct RegistryKey {
    std::wstring path;                                 // as created
    std::map<std::wstring, os::RegistryValue> values;  // by upper-case name
    bool writable = true;  // false: the account may read the key, not set values
};

// Keys by their upper-case path as the native view names them; on 64-bit
// Windows the 32-bit view of SOFTWARE lives under SOFTWARE\Wow6432Node.
struct Registry {
    std::map<std::wstring, RegistryKey> keys;
};
// Every key, value, type and byte the same.
bool operator==(const Registry& a, const Registry& b);

// Adds a key (native view) and returns it for adjustment.
RegistryKey& AddRegistryKey(const std::wstring& subKey);
void SetRegistryValue(const std::wstring& subKey, const std::wstring& name,
                      const os::RegistryValue& value);
// The value in the native view, or none when the key or the value is missing.
std::optional<os::RegistryValue> RegistryValueOf(const Registry& registry,
                                                 const std::wstring& subKey,
                                                 const std::wstring& name);

}  // namespace sim
