// The registry part of the seam, answered by the simulated machine. Corvane
// opens every key in the native view (KEY_WOW64_64KEY); the 32-bit view of
// SOFTWARE, which it never asks for, is SOFTWARE\Wow6432Node.
#include "os/os.h"
#include "os/sim/machine.h"

#include <algorithm>

namespace sim {

namespace {

constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;

RegistryKey* KeyAt(const std::wstring& subKey) {
    auto& keys = machine().registry.keys;
    const auto found = keys.find(Upper(subKey));
    return found == keys.end() ? nullptr : &found->second;
}

// The key above, "" above a key of the root.
std::wstring Parent(const std::wstring& subKey) {
    const size_t slash = subKey.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : subKey.substr(0, slash);
}

// Counts a write; true for the one that is to fail. Only administrators
// write under HKLM.
bool WriteFails() {
    Machine& m = machine();
    return ++m.registryWrites == m.failRegistryWrite || !m.administrator;
}

}  // namespace

bool operator==(const Registry& a, const Registry& b) {
    const auto sameValue = [](const auto& x, const auto& y) {
        return x.first == y.first && x.second.type == y.second.type &&
               x.second.data == y.second.data;
    };
    const auto sameKey = [&sameValue](const auto& x, const auto& y) {
        return x.first == y.first && x.second.writable == y.second.writable &&
               std::equal(x.second.values.begin(), x.second.values.end(), y.second.values.begin(),
                          y.second.values.end(), sameValue);
    };
    return std::equal(a.keys.begin(), a.keys.end(), b.keys.begin(), b.keys.end(), sameKey);
}

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
    if (!key->writable || sim::WriteFails()) return sim::kErrorAccessDenied;
    key->values[sim::Upper(name)] = value;
    return 0;
}

uint32_t RegistryDeleteValue(const std::wstring& subKey, const std::wstring& name) {
    sim::RegistryKey* key = sim::KeyAt(subKey);
    if (!key) return sim::kErrorFileNotFound;
    if (!key->writable || sim::WriteFails()) return sim::kErrorAccessDenied;
    return key->values.erase(sim::Upper(name)) != 0 ? 0 : sim::kErrorFileNotFound;
}

uint32_t RegistryCreateKey(const std::wstring& subKey, bool& created) {
    if (sim::KeyAt(subKey)) {
        created = false;
        return 0;
    }
    // A new key needs the right to add one to the nearest key that exists.
    std::wstring above = sim::Parent(subKey);
    while (!above.empty() && !sim::KeyAt(above)) above = sim::Parent(above);
    if ((!above.empty() && !sim::KeyAt(above)->writable) || !sim::machine().administrator)
        return sim::kErrorAccessDenied;
    // The root's own keys (SOFTWARE, SYSTEM) always exist.
    for (std::wstring key = subKey; !sim::Parent(key).empty() && !sim::KeyAt(key);
         key = sim::Parent(key))
        sim::AddRegistryKey(key);
    created = true;
    return 0;
}

uint32_t RegistryFlushKey(const std::wstring& subKey) {
    const sim::RegistryKey* key = sim::KeyAt(subKey);
    if (!key) return sim::kErrorFileNotFound;
    sim::machine().flushedKeys.push_back(*key);
    return 0;
}

uint32_t RegistryDeleteKey(const std::wstring& subKey) {
    auto& keys = sim::machine().registry.keys;
    const sim::RegistryKey* key = sim::KeyAt(subKey);
    if (!key) return sim::kErrorFileNotFound;
    const std::wstring below = sim::Upper(subKey) + L"\\";
    const auto next = keys.lower_bound(below);
    if (!key->writable || !sim::machine().administrator) return sim::kErrorAccessDenied;
    if (!key->values.empty() || (next != keys.end() && next->first.rfind(below, 0) == 0))
        return kErrorDirNotEmpty;
    keys.erase(sim::Upper(subKey));
    return 0;
}

}  // namespace os
