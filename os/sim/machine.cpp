#include "os/sim/machine.h"

#include <algorithm>
#include <cwctype>
#include <memory>

namespace sim {

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

namespace {

bool StartsWithFolder(const std::wstring& path, const std::wstring& folder) {
    const std::wstring p = Upper(path), f = Upper(folder);
    return p.size() >= f.size() && p.compare(0, f.size(), f) == 0 &&
           (p.size() == f.size() || p[f.size()] == L'\\');
}

// Joins the components, resolving "." and "..".
std::wstring Normalise(const std::wstring& root, const std::wstring& rest) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find(L'\\', start);
        if (end == std::wstring::npos) end = rest.size();
        const std::wstring part = rest.substr(start, end - start);
        if (part == L"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::wstring result = root;
    for (size_t i = 0; i < parts.size(); ++i) result += (i ? L"\\" : L"") + parts[i];
    return result;
}

}  // namespace

bool CaseInsensitiveLess::operator()(const std::wstring& a, const std::wstring& b) const {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](wchar_t x, wchar_t y) { return std::towupper(x) < std::towupper(y); });
}

namespace {
const wchar_t* const kTools[] = {L"cmd.exe", L"rundll32.exe", L"regsvr32.exe", L"shutdown.exe",
                                 L"wbem\\winmgmt.exe"};
std::unique_ptr<Machine>& Instance() {
    static std::unique_ptr<Machine> instance = std::make_unique<Machine>();
    return instance;
}
}  // namespace

Machine& machine() { return *Instance(); }

void Reset() {
    Instance() = std::make_unique<Machine>();
    Machine& m = machine();
    m.environment[L"SystemRoot"] = m.windowsDirectory;
    m.environment[L"windir"] = m.windowsDirectory;
    AddDirectory(L"C:\\");
    AddDirectory(m.currentDirectory);
    AddFile(m.executablePath);
    for (const wchar_t* tool : kTools) AddFile(m.windowsDirectory + L"\\System32\\" + tool);
    // System Restore as Windows 10 has it: the key of its settings, and the
    // parameters of the two methods Corvane calls.
    AddRegistryKey(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore");
    m.wmiParameters[L"CreateRestorePoint"] = {{L"Description", CimType::String},
                                              {L"RestorePointType", CimType::Integer},
                                              {L"EventType", CimType::Integer}};
    m.wmiParameters[L"Enable"] = {{L"Drive", CimType::String}};
    // Volume Shadow Copy and its provider, Manual as Windows installs them.
    m.serviceManager.services = {{L"VSS", Service{}}, {L"swprv", Service{}}};
}

void Make64Bit() {
    Machine& m = machine();
    m.wow64 = true;
    m.environment[L"ProgramFiles(x86)"] = L"C:\\Program Files (x86)";
    AddDirectory(L"C:\\Program Files (x86)");
    for (const wchar_t* tool : kTools) AddFile(m.windowsDirectory + L"\\SysWOW64\\" + tool);
}

std::wstring Resolve(const std::wstring& input) {
    const Machine& m = machine();
    std::wstring path = input;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    if (path.empty()) return {};

    std::wstring root, rest;
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\') {
        const size_t server = path.find(L'\\', 2);
        const size_t share = server == std::wstring::npos ? server : path.find(L'\\', server + 1);
        root = path.substr(0, share);
        rest = share == std::wstring::npos ? L"" : path.substr(share + 1);
        if (share != std::wstring::npos) root += L"\\";
    } else if (path.size() >= 2 && path[1] == L':') {
        root = std::wstring(1, static_cast<wchar_t>(std::towupper(path[0]))) + L":\\";
        rest = path.substr(2);
        if (rest.empty() || rest[0] != L'\\') {
            // Drive-relative: against the current directory when it is on that drive.
            if (Upper(m.currentDirectory.substr(0, 2)) == Upper(path.substr(0, 2)))
                rest = m.currentDirectory.substr(3) + L"\\" + rest;
        }
    } else if (path[0] == L'\\') {
        root = m.currentDirectory.substr(0, 3);
        rest = path;
    } else {
        root = m.currentDirectory.substr(0, 3);
        rest = m.currentDirectory.substr(3) + L"\\" + path;
    }
    std::wstring full = Normalise(root, rest);

    const std::wstring system32 = m.windowsDirectory + L"\\System32";
    // The alias by which a 32-bit process on 64-bit Windows reaches the
    // native System32 with redirection on; 32-bit Windows has no such folder.
    const std::wstring sysnative = m.windowsDirectory + L"\\Sysnative";
    if (StartsWithFolder(full, sysnative))
        return m.wow64 ? system32 + full.substr(sysnative.size()) : std::wstring();
    if (m.wow64 && !m.redirectionDisabled && StartsWithFolder(full, system32))
        full = m.windowsDirectory + L"\\SysWOW64" + full.substr(system32.size());
    return full;
}

uintptr_t NewHandle(uint32_t processId) {
    Machine& m = machine();
    const uintptr_t handle = m.nextHandle;
    m.nextHandle += 4;
    m.openHandles[handle] = processId;
    return handle;
}

const FileEntry* Find(const std::wstring& path) {
    const std::wstring full = Resolve(path);
    if (full.empty()) return nullptr;
    const auto& files = machine().files;
    const auto found = files.find(Upper(full));
    if (found != files.end()) return &found->second;
    return nullptr;
}

void AddDirectory(const std::wstring& path, uint32_t attributes) {
    const std::wstring full = Normalise(path.substr(0, 3), path.substr(3));
    for (size_t pos = 3; pos <= full.size(); ++pos) {
        if (pos != full.size() && full[pos] != L'\\') continue;
        const std::wstring dir = full.substr(0, pos);
        FileEntry& entry = machine().files[Upper(dir)];
        if (!entry.directory) entry = FileEntry{dir, true, 0x10};
    }
    machine().files[Upper(full)].attributes = attributes | 0x10;
}

FileEntry& AddFile(const std::wstring& path) {
    const std::wstring full = Normalise(path.substr(0, 3), path.substr(3));
    const size_t slash = full.find_last_of(L'\\');
    if (slash > 2) AddDirectory(full.substr(0, slash));
    FileEntry& entry = machine().files[Upper(full)];
    entry = FileEntry{};
    entry.path = full;
    return entry;
}

void Remove(const std::wstring& path) {
    machine().files.erase(Upper(Normalise(path.substr(0, 3), path.substr(3))));
}

os::WmiOutcome Returns(int32_t value) {
    os::WmiOutcome outcome;
    outcome.status = os::WmiStatus::Returned;
    outcome.returnValue = value;
    return outcome;
}

os::WmiOutcome Raises(int32_t code, const std::wstring& description) {
    os::WmiOutcome outcome;
    outcome.status = os::WmiStatus::Raised;
    outcome.errorCode = code;
    outcome.errorDescription = description;
    return outcome;
}

os::WmiOutcome ReturnsNothing() {
    os::WmiOutcome outcome;
    outcome.status = os::WmiStatus::NoValue;
    return outcome;
}

}  // namespace sim
