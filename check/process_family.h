// Which processes are Corvane's, from snapshots and creation times: the
// rule that says whose a console window shown during the run is. Nothing
// here reads Windows, so the rule is tested natively.
#pragma once

#include "check/run.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace check {

// A process as a snapshot lists it.
struct ProcessEntry {
    uint32_t parent = 0;
    std::wstring exe;
};
using ProcessList = std::map<uint32_t, ProcessEntry>;
// When a process was created (FILETIME ticks); 0 where it cannot be read.
using CreationTime = std::function<uint64_t(uint32_t processId)>;
// Processes by number, with their creation times.
using Family = std::map<uint32_t, uint64_t>;

// Corvane's family as it is now: each member still listed as the same
// process (created when it was), and every listed process whose parent is a
// member and that was created after it. A number that Windows gave again,
// to a process older than the one that had it, adopts nothing.
Family FamilyNow(const Family& family, const ProcessList& processes, const CreationTime& createdOf);

// Whose a console window is, by its process: Corvane's for one of its
// family; another program's only for a process still listed whose parent
// is listed too, none of Corvane's, created before it, and no console host
// (which shows windows for others); anything else is not known, a process
// that ended before it was looked up included.
ConsoleWindow::Owner OwnerOf(uint32_t processId, const Family& family, const ProcessList& processes,
                             const CreationTime& createdOf);

}  // namespace check
