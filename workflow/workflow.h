// The workflow: create a restore point, and repair System Restore until it
// can be created.
#pragma once

#include <cstdint>

namespace workflow {

// The whole run. Returns the process exit code: 0 when an attempt created
// the restore point, otherwise the last result (never 0).
int32_t Run();

// What a run makes and shows, for whoever checks it.
extern const wchar_t kRestorePointDescription[];
extern const wchar_t kFinalMessageTitle[];

}  // namespace workflow
