#include "check/process_family.h"

#include <cwctype>

namespace check {

namespace {

bool IsConsoleHost(std::wstring exe) {
    for (wchar_t& c : exe) c = static_cast<wchar_t>(std::towlower(c));
    return exe == L"conhost.exe" || exe == L"openconsole.exe" || exe == L"windowsterminal.exe" ||
           exe == L"csrss.exe";
}

}  // namespace

Family FamilyNow(const Family& members, const ProcessList& processes,
                 const CreationTime& createdOf) {
    Family family;
    for (const auto& [id, created] : members)
        if (processes.count(id) && createdOf(id) == created) family[id] = created;
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& [id, process] : processes) {
            const auto parent = family.find(process.parent);
            if (id == process.parent || parent == family.end() || family.count(id)) continue;
            const uint64_t created = createdOf(id);
            if (created == 0 || created < parent->second) continue;
            family[id] = created;
            grew = true;
        }
    }
    return family;
}

ConsoleWindow::Owner OwnerOf(uint32_t processId, const Family& family, const ProcessList& processes,
                             const CreationTime& createdOf) {
    using Owner = ConsoleWindow::Owner;
    if (family.count(processId)) return Owner::Corvane;  // a host's parent too
    const auto process = processes.find(processId);
    if (processId == 0 || process == processes.end()) return Owner::Unknown;
    const uint32_t parent = process->second.parent;
    if (IsConsoleHost(process->second.exe) || !processes.count(parent)) return Owner::Unknown;
    const uint64_t created = createdOf(processId), parentCreated = createdOf(parent);
    if (created == 0 || parentCreated == 0 || parentCreated > created) return Owner::Unknown;
    return Owner::Other;
}

}  // namespace check
