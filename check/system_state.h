// Reads, on Windows, what the check compares: the machine, and the state
// that Corvane may change. Its own code throughout, not Corvane's, so that a
// fault in Corvane's readings cannot hide itself by showing here too.
#pragma once

#include "check/report.h"

namespace check {

Machine ReadMachine();

// The restore-point listing runs on a thread of its own and is given up
// after limitMs (a hung WMI), which leaves the points not listed.
SystemState ReadSystemState(const Machine& machine, uint32_t limitMs);

}  // namespace check
