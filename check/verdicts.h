// The check's findings: what it saw, judged PASS, FAIL or NOT SHOWN, each
// with the values behind its verdict. A PASS must mean "seen, and right".
// Nothing here reads Windows, so the verdicts are tested natively.
#pragma once

#include "check/run.h"
#include "check/system_state.h"

#include <string>
#include <vector>

namespace check {

enum class Verdict { Pass, Fail, NotShown };
struct Finding {
    Verdict verdict;
    std::wstring text;  // what was checked, the values seen, and for NOT SHOWN why
};

std::vector<Finding> Findings(const Machine& machine, const SystemState& before, const Run& run,
                              const SystemState& after);

// 0 when every finding passed, 1 when one failed, 3 when none failed but
// one was not shown.
int ExitCode(const std::vector<Finding>& findings);

}  // namespace check
