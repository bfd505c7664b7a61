// The workflow: create a restore point, and repair System Restore until it
// can be created.
#pragma once

#include <cstdint>

namespace Module1 {

// The whole run. Returns the process exit code: 0 when an attempt created
// the restore point, otherwise the last result (never 0).
int32_t Main();

}  // namespace Module1
