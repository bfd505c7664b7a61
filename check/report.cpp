#include "check/report.h"

#include "app/workflow.h"

#include <cstdio>

namespace check {

namespace {

constexpr uint32_t kNoSuchValue = 2;       // ERROR_FILE_NOT_FOUND
constexpr uint32_t kNoSuchService = 1060;  // ERROR_SERVICE_DOES_NOT_EXIST
constexpr uint32_t kDisabled = 4, kManual = 3;
constexpr uint32_t kRegSz = 1, kRegDword = 4;

// Seconds, or an unsigned number, as the format has it.
template <typename Value>
std::wstring Formatted(const wchar_t* format, Value value) {
    wchar_t text[32];
    std::swprintf(text, 32, format, value);
    return text;
}

std::wstring Seconds(double value, const wchar_t* format = L"%.1f") {
    return Formatted(format, value);
}

std::wstring Hex(uint32_t value) { return Formatted(L"0x%08X", static_cast<unsigned>(value)); }

uint32_t Highest(const SystemState& state) {
    uint32_t highest = 0;
    for (const RestorePoint& p : state.points)
        if (p.sequenceNumber > highest) highest = p.sequenceNumber;
    return highest;
}

std::wstring Points(const SystemState& state) {
    if (!state.pointsListed)
        return L"not listed (error " + Hex(static_cast<uint32_t>(state.pointsError)) + L")";
    return std::to_wstring(state.points.size()) + L", highest sequence number " +
           std::to_wstring(Highest(state));
}

std::wstring Frequency(const SystemState& state) {
    if (state.frequencyError == kNoSuchValue) return L"absent";
    if (state.frequencyError != 0)
        return L"not read (error " + std::to_wstring(state.frequencyError) + L")";
    const std::vector<uint8_t>& d = state.frequencyData;
    if (state.frequencyType == kRegDword && d.size() == 4)
        return L"REG_DWORD " +
               std::to_wstring(d[0] | d[1] << 8 | d[2] << 16 | uint32_t{d[3]} << 24);
    std::wstring bytes;
    for (uint8_t b : d) bytes += Formatted(L" %02X", static_cast<unsigned>(b));
    const std::wstring type =
        state.frequencyType == kRegSz ? L"REG_SZ" : L"type " + std::to_wstring(state.frequencyType);
    return type + L", " + std::to_wstring(d.size()) + L" bytes:" + bytes;
}

std::wstring StartType(const SystemState::Service& s) {
    if (s.error == kNoSuchService) return s.name + L" absent";
    if (s.error != 0) return s.name + L" not read (error " + std::to_wstring(s.error) + L")";
    const wchar_t* const names[] = {L"Boot", L"System", L"Automatic", L"Manual", L"Disabled"};
    if (s.startType < 5) return s.name + L" " + names[s.startType];
    return s.name + L" start type " + std::to_wstring(s.startType);
}

std::wstring Joined(const std::vector<std::wstring>& items, const wchar_t* separator) {
    std::wstring text;
    for (const std::wstring& item : items) text += (text.empty() ? L"" : separator) + item;
    return text;
}

// A text of several lines on one line of the report.
std::wstring OneLine(std::wstring text) {
    for (size_t at; (at = text.find(L"\r\n")) != std::wstring::npos;) text.replace(at, 2, L" / ");
    return text;
}

std::wstring Trimmed(const std::wstring& line) {
    const size_t first = line.find_first_not_of(L" \t");
    return first == std::wstring::npos ? L"" : line.substr(first);
}

bool IsErrorLine(const std::wstring& line) {
    for (const wchar_t* mark :
         {L"ERROR", L"NOT FOUND", L"(Failed)", L"Cannot", L"no start with consent"})
        if (line.find(mark) != std::wstring::npos) return true;
    return false;
}

// Whether a repair ran: a status text of one was seen, or every attempt
// failed; unknown when the window was never seen and Corvane ended with 0.
std::optional<bool> RepairRan(const Run& run) {
    for (const auto& label : run.labels)
        if (label.second.rfind(L"Errors encountered", 0) == 0) return true;
    if (run.exitCode != 0) return true;
    if (!run.labels.empty()) return false;
    return std::nullopt;
}

Finding Outcome(const SystemState& before, const Run& run, const SystemState& after) {
    if (run.startError != 0)
        return {Verdict::Fail, L"outcome: Corvane.exe could not be started (error " +
                                   std::to_wstring(run.startError) + L")"};
    if (run.timedOut)
        return {Verdict::Fail, L"outcome: Corvane.exe did not end within " +
                                   std::to_wstring(run.minutes) + L" minutes; it was left running"};
    const std::wstring exit = L"exit code " + std::to_wstring(static_cast<int32_t>(run.exitCode));
    if (!before.pointsListed || !after.pointsListed)
        return {Verdict::NotShown, L"outcome: " + exit +
                                       L"; the restore points could not be listed, before: " +
                                       Points(before) + L", after: " + Points(after)};
    const RestorePoint* made = nullptr;
    for (const RestorePoint& p : after.points)
        if (p.sequenceNumber > Highest(before) &&
            p.description == Module1::kRestorePointDescription && p.type == 0)
            made = &p;
    const std::wstring seen = made ? L"new point " + std::to_wstring(made->sequenceNumber) +
                                         L" \"" + made->description + L"\", type 0"
                                   : L"no new point named \"" +
                                         std::wstring(Module1::kRestorePointDescription) +
                                         L"\" of type 0";
    const bool holds = (run.exitCode == 0) == (made != nullptr);
    return {holds ? Verdict::Pass : Verdict::Fail, L"outcome: " + exit + L", " + seen +
                                                       L" (points before: " + Points(before) +
                                                       L"; after: " + Points(after) + L")"};
}

Finding Service(const SystemState::Service& was, const SystemState::Service& is,
                const std::optional<bool>& repaired) {
    const std::wstring seen =
        StartType(was) + L" before, " + StartType(is).substr(is.name.size() + 1) + L" after";
    if ((was.error != 0 && was.error != kNoSuchService) ||
        (is.error != 0 && is.error != kNoSuchService))
        return {Verdict::NotShown, L"service: " + seen};
    const bool disabled = was.error == 0 && was.startType == kDisabled;
    if (disabled && !repaired)
        return {Verdict::NotShown, L"service: " + seen + L" (whether a repair ran is not known)"};
    const bool toManual = disabled && *repaired;
    const bool holds = was.error == is.error &&
                       (toManual ? is.startType == kManual : is.startType == was.startType);
    return {holds ? Verdict::Pass : Verdict::Fail,
            L"service: " + seen +
                (toManual ? L" (a repair ran: Manual expected)" : L" (unchanged expected)")};
}

Finding FinalBox(const Machine& machine, const Run& run) {
    if (!run.box) {
        if (!machine.desktopVisible)
            return {Verdict::NotShown,
                    L"final box: nobody can see this desktop, so Corvane asks nothing"};
        if (run.exitCode == 0 && !run.timedOut)
            return {Verdict::NotShown, L"final box: none, as the restore point was made"};
        return {Verdict::Fail, L"final box: never seen, although no restore point was made"};
    }
    const Box& b = *run.box;
    const std::wstring seen = L"final box: \"" + b.title + L"\", buttons " +
                              Joined(b.buttons, L"|") + (b.icon ? L", icon" : L", no icon") +
                              L", topmost " + (b.topmost ? L"yes" : L"no") + L", in front " +
                              (b.foreground ? L"yes" : L"no") + L"; answered Cancel";
    return {b.topmost && b.foreground ? Verdict::Pass : Verdict::Fail, seen};
}

}  // namespace

std::vector<Finding> Findings(const Machine& machine, const SystemState& before, const Run& run,
                              const SystemState& after) {
    std::vector<Finding> findings;
    findings.push_back({machine.elevated ? Verdict::Pass : Verdict::Fail,
                        machine.elevated ? L"elevated: yes"
                                         : L"elevated: no; Corvane needs administrator rights: run "
                                           L"the check as administrator"});
    findings.push_back(Outcome(before, run, after));
    const std::wstring frequency =
        L"creation frequency: " + Frequency(before) + L" before, " + Frequency(after) + L" after";
    if ((before.frequencyError != 0 && before.frequencyError != kNoSuchValue) ||
        (after.frequencyError != 0 && after.frequencyError != kNoSuchValue))
        findings.push_back({Verdict::NotShown, frequency});
    else
        findings.push_back(
            {Frequency(before) == Frequency(after) ? Verdict::Pass : Verdict::Fail, frequency});
    for (size_t i = 0; i < before.services.size() && i < after.services.size(); ++i)
        findings.push_back(Service(before.services[i], after.services[i], RepairRan(run)));
    if (!machine.desktopVisible)
        findings.push_back({Verdict::NotShown, L"console windows: nobody can see this desktop"});
    else
        findings.push_back({run.consoleWindows.empty() ? Verdict::Pass : Verdict::Fail,
                            L"console windows: " + (run.consoleWindows.empty()
                                                        ? std::wstring(L"none seen")
                                                        : Joined(run.consoleWindows, L"; "))});
    findings.push_back(FinalBox(machine, run));
    if (run.traceError != 0) {
        findings.push_back(
            {Verdict::NotShown, L"trace: the debugger output could not be read (error " +
                                    std::to_wstring(run.traceError) +
                                    L"; is a debug-output viewer running?)"});
    } else {
        // Each error with the detail lines that follow it ("\t\t- ...").
        std::vector<std::wstring> errors;
        bool inError = false;
        for (const std::wstring& line : run.trace) {
            const std::wstring text = Trimmed(line);
            if (IsErrorLine(line)) {
                errors.push_back(text);
                inError = true;
            } else if (inError && text.rfind(L"- ", 0) == 0) {
                errors.back() += L" " + text;
            } else {
                inError = false;
            }
        }
        findings.push_back({errors.empty() ? Verdict::Pass : Verdict::Fail,
                            L"trace errors: " +
                                (errors.empty() ? std::wstring(L"none") : Joined(errors, L" / ")) +
                                L" (" + std::to_wstring(run.trace.size()) + L" lines traced)"});
    }
    return findings;
}

std::vector<std::wstring> ReportLines(const Machine& machine, const SystemState& before,
                                      const Run& run, const SystemState& after,
                                      const std::vector<Finding>& findings) {
    std::vector<std::wstring> lines;
    const auto state = [&lines](const wchar_t* when, const SystemState& s) {
        lines.push_back(std::wstring(when) + L": restore points " + Points(s) +
                        L"; creation frequency " + Frequency(s) + L"; " +
                        StartType(s.services.at(0)) + L", " + StartType(s.services.at(1)));
    };
    lines.push_back(L"Windows " + std::to_wstring(machine.major) + L"." +
                    std::to_wstring(machine.minor) + L" build " + std::to_wstring(machine.build) +
                    (machine.is64Bit ? L", 64-bit" : L", 32-bit") + L", computer " +
                    machine.computer + L"; elevated " + (machine.elevated ? L"yes" : L"no") +
                    L"; desktop visible " + (machine.desktopVisible ? L"yes" : L"no"));
    lines.push_back(
        L"System protection of the system drive: not shown (Windows documents no way to read it)");
    state(L"Before", before);
    lines.push_back(L"Run: exit code " + std::to_wstring(static_cast<int32_t>(run.exitCode)) +
                    L" after " + Seconds(run.seconds) + L" s" +
                    (run.timedOut ? L" (time limit reached)" : L""));
    // Each stage: when it began, how long it took, what the window said.
    std::vector<std::pair<double, std::wstring>> stages = {{0.0, L"Corvane.exe started"}};
    stages.insert(stages.end(), run.labels.begin(), run.labels.end());
    if (run.box) stages.emplace_back(run.box->atSeconds, L"final box: " + OneLine(run.box->text));
    for (size_t i = 0; i < stages.size(); ++i) {
        const double end = i + 1 < stages.size() ? stages[i + 1].first : run.seconds;
        lines.push_back(L"  " + Seconds(stages[i].first, L"%6.1f") + L" s, " +
                        Seconds(end - stages[i].first, L"%5.1f") + L" s long: " + stages[i].second);
    }
    state(L"After", after);
    std::size_t failed = 0;
    for (const Finding& f : findings) {
        failed += f.verdict == Verdict::Fail;
        lines.push_back((f.verdict == Verdict::Pass   ? L"PASS: "
                         : f.verdict == Verdict::Fail ? L"FAIL: "
                                                      : L"NOT SHOWN: ") +
                        f.text);
    }
    lines.push_back(std::to_wstring(failed) + L" of " + std::to_wstring(findings.size()) +
                    L" findings failed");
    lines.push_back(L"Trace (" + std::to_wstring(run.trace.size()) + L" lines):");
    for (const std::wstring& line : run.trace) lines.push_back(L"  " + line);
    return lines;
}

}  // namespace check
