// What the check saw, and what it makes of it: the findings, each PASS,
// FAIL or NOT SHOWN with the values behind it, and the report's lines.
// Nothing here reads Windows, so the verdicts are tested natively.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace check {

// An error code of a reading that was never made.
constexpr uint32_t kNotRead = 0xFFFFFFFF;

// Corvane's exit code when another Corvane was running: it did nothing.
constexpr uint32_t kAnotherCorvaneRan = 1618;

struct RestorePoint {
    uint32_t sequenceNumber = 0;
    std::wstring description;
    int32_t type = -1;          // RestorePointType
    std::wstring creationTime;  // CIM DATETIME, as WMI gives it
};

struct RegistryValue {
    uint32_t error = kNotRead;  // 0: read; 2: no such value
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

// What Corvane may change, read before and after its run.
struct SystemState {
    bool pointsListed = false;
    bool pointsTimedOut = false;  // WMI gave no answer within the check's limit
    int32_t pointsError = 0;      // why they could not be listed
    std::vector<RestorePoint> points;
    // The creation frequency in the native view; on 64-bit Windows the
    // 32-bit view (Wow6432Node) too, where a 32-bit program writes by default.
    RegistryValue frequency;
    std::optional<RegistryValue> frequency32;
    struct Service {
        std::wstring name;
        uint32_t error = kNotRead;  // 1060: no such service
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
    bool desktopVisible = false;      // the check's own reading of its window station
    std::wstring desktopSeen;         // what that reading rests on
    bool corvaneSeesDesktop = false;  // Corvane's rule, computed here
};

// The final message box as it was watched, from its appearance until it
// was gone (check/corvane_windows.h reads it).
struct Box {
    double atSeconds = 0;
    std::wstring title, text;
    std::vector<std::wstring> buttons;
    bool icon = false;
    bool topmost = false;                   // at every look before Cancel
    bool foreground = false;                // in front at any moment
    std::optional<uint32_t> inputAgeMs;     // since the last input, when it appeared
    std::optional<uint32_t> lockTimeoutMs;  // the foreground lock time-out
    int cancelPresses = 0;
    bool gone = false;  // closed after Cancel
};

// A console window that was shown during the run, and whose it was.
struct ConsoleWindow {
    enum class Owner { Corvane, Other, Unknown } owner = Owner::Unknown;
    std::wstring seen;  // class, title, process
};

// Corvane's run as it was watched.
struct Run {
    bool started = false;
    uint32_t startError = 0;  // why Corvane.exe could not be started
    bool timedOut = false;
    uint32_t minutes = 0;              // the time limit
    std::optional<uint32_t> exitCode;  // only once Corvane ended
    double seconds = 0;
    std::vector<std::pair<double, std::wstring>> labels;  // each status text the window answered
    bool statusInFront = false;  // Corvane's status window had the foreground at some moment
    std::optional<Box> box;
    uint32_t hookError = kNotRead;  // 0: windows being shown were watched
    bool statusShownSeen = false;   // the watch saw Corvane's status window being shown
    std::vector<ConsoleWindow> consoleWindows;
    uint32_t traceError = kNotRead;      // 0: the debugger output was read
    std::optional<double> probeSeconds;  // when the check's own line came back
    // The check's closing line, written once Corvane had ended, came back:
    // the debugger output is one buffer that writers take in turn, so every
    // line Corvane wrote was read before it.
    bool traceDrained = false;
    std::vector<std::wstring> trace;
};

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

// The time limit argument: digits only, 1 to 1440 minutes (a day).
bool ParseMinutes(const std::wstring& text, uint32_t& minutes);

// The report's first line, where the run needs one before anything else.
std::optional<std::wstring> Headline(const Run& run);

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

// The whole report: the state before, the run, the state after, the
// findings, and the trace.
std::vector<std::wstring> ReportLines(const Machine& machine, const SystemState& before,
                                      const Run& run, const SystemState& after,
                                      const std::vector<Finding>& findings);

}  // namespace check
