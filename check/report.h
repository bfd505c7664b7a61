// What the check saw, and what it makes of it: the findings, each PASS,
// FAIL or NOT SHOWN with the values behind it, and the report's lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace check {

struct RestorePoint {
    uint32_t sequenceNumber = 0;
    std::wstring description;
    int32_t type = -1;  // RestorePointType
};

// What Corvane may change, read before and after its run.
struct SystemState {
    bool pointsListed = false;
    int32_t pointsError = 0;  // why they could not be listed
    std::vector<RestorePoint> points;
    uint32_t frequencyError = 0;  // 2: no such value
    uint32_t frequencyType = 0;
    std::vector<uint8_t> frequencyData;
    struct Service {
        std::wstring name;
        uint32_t error = 0;  // 1060: no such service
        uint32_t startType = 0;
    };
    std::vector<Service> services;  // VSS, then swprv
};

// The Windows the check runs on.
struct Machine {
    std::wstring computer;
    uint32_t major = 0, minor = 0, build = 0;
    bool is64Bit = false;
    bool elevated = false;
    bool desktopVisible = true;  // Corvane's own rule
};

// The final message box as it was found (check/corvane_windows.h reads it).
struct Box {
    double atSeconds = 0;
    std::wstring title, text;
    std::vector<std::wstring> buttons;
    bool icon = false, topmost = false, foreground = false;
};

// Corvane's run as it was watched.
struct Run {
    uint32_t startError = 0;  // Corvane.exe could not be started
    bool timedOut = false;
    uint32_t minutes = 0;  // the time limit
    uint32_t exitCode = 0;
    double seconds = 0;
    std::vector<std::pair<double, std::wstring>> labels;  // each change of the status text
    std::optional<Box> box;
    std::vector<std::wstring> consoleWindows;  // class and title of each one seen
    uint32_t traceError = 0;                   // the debugger output could not be read
    std::vector<std::wstring> trace;
};

enum class Verdict { Pass, Fail, NotShown };
struct Finding {
    Verdict verdict;
    std::wstring text;  // what was checked, the values seen, and for NOT SHOWN why
};

std::vector<Finding> Findings(const Machine& machine, const SystemState& before, const Run& run,
                              const SystemState& after);

// The whole report: what the check changes, the state before, the run, the
// state after, the findings, and the trace.
std::vector<std::wstring> ReportLines(const Machine& machine, const SystemState& before,
                                      const Run& run, const SystemState& after,
                                      const std::vector<Finding>& findings);

}  // namespace check
