// The check's report: its lines, from the machine and the state before,
// through Corvane's run and the state after, to the findings and the trace;
// and the check's exit code. Nothing here reads Windows, so it is tested
// natively.
#pragma once

#include "check/run.h"
#include "check/system_state.h"

#include <optional>
#include <string>
#include <vector>

namespace check {

struct Report {
    // A line before anything else, where the run needs one.
    std::optional<std::wstring> headline;
    std::vector<std::wstring> lines;
    // 0 when every finding passed, 1 when one failed, 3 when none failed but
    // one was not shown.
    int exitCode = 3;
};

Report ReportOn(const Machine& machine, const SystemState& before, const Run& run,
                const SystemState& after);

}  // namespace check
