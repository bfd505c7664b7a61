// Reads, on Windows, what the check compares: the machine, and the state
// that Corvane may change.
#pragma once

#include "check/report.h"

namespace check {

Machine ReadMachine();
SystemState ReadSystemState();

}  // namespace check
