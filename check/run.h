// Corvane's run as the check watched it: its status texts, its final box,
// the console windows shown meanwhile, and its debugger output.
#pragma once

#include "check/system_state.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace check {

// Corvane's exit code when another Corvane was running: it did nothing.
constexpr uint32_t kAnotherCorvaneRan = 1618;

// The final message box as it was watched, from its appearance until it
// was gone (check/status_window_and_box.h reads it).
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

inline bool AnotherCorvaneRan(const Run& run) {
    return run.exitCode && *run.exitCode == kAnotherCorvaneRan;
}

}  // namespace check
