// The registry part of the seam, answered by the simulated machine. Corvane
// opens every key in the native view (KEY_WOW64_64KEY); the 32-bit view of
// SOFTWARE, which it never asks for, is SOFTWARE\Wow6432Node.
#include "os/os.h"
#include "os/sim/machine.h"

namespace sim {

namespace {

constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;

RegistryKey* KeyAt(const std::wstring& subKey) {
    auto& keys = machine().registry.keys;
    const auto found = keys.find(Upper(subKey));
    return found == keys.end() ? nullptr : &found->second;
}

}  // namespace

RegistryKey& AddRegistryKey(const std::wstring& subKey) {
    RegistryKey& key = machine().registry.keys[Upper(subKey)];
    if (key.path.empty()) key.path = subKey;
    return key;
}

void SetRegistryValue(const std::wstring& subKey, const std::wstring& name,
                      const os::RegistryValue& value) {
    AddRegistryKey(subKey).values[Upper(name)] = value;
}

std::optional<os::RegistryValue> RegistryValueOf(const Registry& registry,
                                                 const std::wstring& subKey,
                                                 const std::wstring& name) {
    const auto key = registry.keys.find(Upper(subKey));
    if (key == registry.keys.end()) return std::nullopt;
    const auto value = key->second.values.find(Upper(name));
    if (value == key->second.values.end()) return std::nullopt;
    return value->second;
}

}  // namespace sim

namespace os {

bool RegistryKeyExists(const std::wstring& subKey) { return sim::KeyAt(subKey) != nullptr; }

uint32_t RegistryQueryValue(const std::wstring& subKey, const std::wstring& name,
                            RegistryValue& value) {
    const std::optional<RegistryValue> found =
        sim::RegistryValueOf(sim::machine().registry, subKey, name);
    if (!found) return sim::kErrorFileNotFound;
    value = *found;
    return 0;
}

uint32_t RegistrySetValue(const std::wstring& subKey, const std::wstring& name,
                          const RegistryValue& value) {
    sim::RegistryKey* key = sim::KeyAt(subKey);
    if (!key) return sim::kErrorFileNotFound;
    if (!key->writable) return sim::kErrorAccessDenied;
    key->values[sim::Upper(name)] = value;
    return 0;
}

uint32_t RegistryDeleteValue(const std::wstring& subKey, const std::wstring& name) {
    sim::RegistryKey* key = sim::KeyAt(subKey);
    if (!key) return sim::kErrorFileNotFound;
    if (!key->writable) return sim::kErrorAccessDenied;
    return key->values.erase(sim::Upper(name)) != 0 ? 0 : sim::kErrorFileNotFound;
}

}  // namespace os
