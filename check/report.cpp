#include "check/report.h"

#include "workflow/workflow.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>

namespace check {

namespace {

constexpr uint32_t kNoSuchValue = 2;       // ERROR_FILE_NOT_FOUND
constexpr uint32_t kNoSuchService = 1060;  // ERROR_SERVICE_DOES_NOT_EXIST
constexpr uint32_t kDisabled = 4, kManual = 3;
constexpr uint32_t kRegSz = 1, kRegDword = 4;
// Input this recent keeps any window from taking the foreground, whatever
// the lock time-out says: the user is busy elsewhere.
constexpr uint32_t kRecentInputMs = 5000;

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

std::wstring Error(uint32_t error) {
    return error == kNotRead ? L"not read" : L"not read (error " + std::to_wstring(error) + L")";
}

uint32_t Highest(const SystemState& state) {
    uint32_t highest = 0;
    for (const RestorePoint& p : state.points)
        if (p.sequenceNumber > highest) highest = p.sequenceNumber;
    return highest;
}

std::wstring Points(const SystemState& state) {
    if (state.pointsTimedOut) return L"not listed (WMI did not answer within the check's limit)";
    if (!state.pointsListed)
        return L"not listed (error " + Hex(static_cast<uint32_t>(state.pointsError)) + L")";
    return std::to_wstring(state.points.size()) + L", highest sequence number " +
           std::to_wstring(Highest(state));
}

// The points listed after and not before: a sequence number and a creation
// time that were not both there already.
std::vector<RestorePoint> NewPoints(const SystemState& before, const SystemState& after) {
    std::vector<RestorePoint> added;
    for (const RestorePoint& p : after.points) {
        bool listed = false;
        for (const RestorePoint& q : before.points)
            listed = listed ||
                     (q.sequenceNumber == p.sequenceNumber && q.creationTime == p.creationTime);
        if (!listed) added.push_back(p);
    }
    return added;
}

bool IsCorvanes(const RestorePoint& p) {
    return p.description == workflow::kRestorePointDescription && p.type == 0;
}

std::wstring Point(const RestorePoint& p) {
    return std::to_wstring(p.sequenceNumber) + L" \"" + p.description + L"\" type " +
           std::to_wstring(p.type) + L" created " + p.creationTime;
}

bool Readable(const RegistryValue& v) { return v.error == 0 || v.error == kNoSuchValue; }

std::wstring Value(const RegistryValue& v) {
    if (v.error == kNoSuchValue) return L"absent";
    if (v.error != 0) return Error(v.error);
    const std::vector<uint8_t>& d = v.data;
    if (v.type == kRegDword && d.size() == 4)
        return L"REG_DWORD " +
               std::to_wstring(d[0] | d[1] << 8 | d[2] << 16 | uint32_t{d[3]} << 24);
    std::wstring bytes;
    for (uint8_t b : d) bytes += Formatted(L" %02X", static_cast<unsigned>(b));
    const std::wstring type = v.type == kRegSz ? L"REG_SZ" : L"type " + std::to_wstring(v.type);
    return type + L", " + std::to_wstring(d.size()) + L" bytes:" + bytes;
}

const SystemState::Service& ServiceNamed(const SystemState& state, const wchar_t* name) {
    for (const SystemState::Service& s : state.services)
        if (s.name == name) return s;
    static const SystemState::Service unread;
    return unread;
}

std::wstring StartType(const SystemState::Service& s) {
    if (s.error == kNoSuchService) return L"absent";
    if (s.error != 0) return Error(s.error);
    const wchar_t* const names[] = {L"Boot", L"System", L"Automatic", L"Manual", L"Disabled"};
    if (s.startType < 5) return names[s.startType];
    return L"start type " + std::to_wstring(s.startType);
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

bool AnotherCorvaneRan(const Run& run) {
    return run.exitCode && *run.exitCode == kAnotherCorvaneRan;
}

// Why the run shows nothing about the state Corvane leaves; empty once it
// ended, having done its work.
std::wstring Unfinished(const Run& run) {
    if (!run.started)
        return run.startError == 0 ? L"Corvane.exe was not started"
                                   : L"Corvane.exe could not be started (error " +
                                         std::to_wstring(run.startError) + L")";
    if (run.timedOut)
        return L"Corvane.exe did not end within " + std::to_wstring(run.minutes) + L" minutes";
    if (!run.exitCode) return L"Corvane's exit code could not be read";
    if (AnotherCorvaneRan(run))
        return std::any_of(run.trace.begin(), run.trace.end(),
                           [](const std::wstring& line) {
                               return line.find(L"guard failed") != std::wstring::npos;
                           })
                   ? L"Corvane could not have its one-at-a-time guard"
                   : L"another Corvane was running";
    return L"";
}

// A finding about the run: a run that never began, or that did nothing as
// another Corvane ran, shows nothing, and one that did not end shows no
// PASS; a FAIL it saw (definite) stays one.
Finding AboutTheRun(Finding finding, const Run& run, bool failIsDefinite) {
    const std::wstring why = Unfinished(run);
    if (why.empty() || (run.started && failIsDefinite && finding.verdict == Verdict::Fail &&
                        !AnotherCorvaneRan(run)))
        return finding;
    return {Verdict::NotShown, finding.text + L" (" + why + L")"};
}

// Whether a repair ran: a status text of one was seen, or every attempt
// failed; unknown when no status text was read and Corvane ended with 0.
std::optional<bool> RepairRan(const Run& run) {
    for (const auto& label : run.labels)
        if (label.second.rfind(L"Errors encountered", 0) == 0) return true;
    if (run.exitCode && *run.exitCode != 0) return true;
    if (!run.labels.empty()) return false;
    return std::nullopt;
}

Finding Outcome(const SystemState& before, const Run& run, const SystemState& after) {
    if (!run.started || run.timedOut)
        return {Verdict::Fail,
                L"outcome: " + Unfinished(run) + (run.timedOut ? L"; it was left running" : L"")};
    if (!run.exitCode || AnotherCorvaneRan(run))
        return {Verdict::NotShown, L"outcome: " + Unfinished(run)};
    const std::wstring exit = L"exit code " + std::to_wstring(static_cast<int32_t>(*run.exitCode));
    if (!before.pointsListed || !after.pointsListed)
        return {Verdict::NotShown, L"outcome: " + exit +
                                       L"; the restore points could not be listed, before: " +
                                       Points(before) + L", after: " + Points(after)};
    const RestorePoint* made = nullptr;
    std::vector<std::wstring> others;
    const std::vector<RestorePoint> added = NewPoints(before, after);
    for (const RestorePoint& p : added) {
        if (IsCorvanes(p))
            made = &p;
        else
            others.push_back(Point(p));
    }
    std::wstring seen = made ? L"new point " + Point(*made)
                             : L"no new point \"" +
                                   std::wstring(workflow::kRestorePointDescription) +
                                   L"\" of type 0";
    if (!others.empty()) seen += L", other new points: " + Joined(others, L", ");
    const bool holds = (*run.exitCode == 0) == (made != nullptr);
    return {holds ? Verdict::Pass : Verdict::Fail, L"outcome: " + exit + L", " + seen +
                                                       L" (points before: " + Points(before) +
                                                       L"; after: " + Points(after) + L")"};
}

Finding Frequency(const std::wstring& name, const RegistryValue& was, const RegistryValue& is) {
    const std::wstring seen = name + L": " + Value(was) + L" before, " + Value(is) + L" after";
    if (!Readable(was) || !Readable(is)) return {Verdict::NotShown, seen};
    const bool same = was.error == is.error && was.type == is.type && was.data == is.data;
    return {same ? Verdict::Pass : Verdict::Fail, seen};
}

Finding Service(const SystemState::Service& was, const SystemState::Service& is,
                const std::wstring& name, const std::optional<bool>& repaired) {
    const std::wstring seen =
        L"service: " + name + L" " + StartType(was) + L" before, " + StartType(is) + L" after";
    const auto readable = [](const SystemState::Service& s) {
        return s.error == 0 || s.error == kNoSuchService;
    };
    if (!readable(was) || !readable(is)) return {Verdict::NotShown, seen};
    const bool disabled = was.error == 0 && was.startType == kDisabled;
    if (disabled && !repaired)
        return {Verdict::NotShown, seen + L" (whether a repair ran is not known)"};
    const bool toManual = disabled && *repaired;
    const bool holds = was.error == is.error &&
                       (toManual ? is.startType == kManual : is.startType == was.startType);
    return {holds ? Verdict::Pass : Verdict::Fail,
            seen + (toManual ? L" (a repair ran: Manual expected)" : L" (unchanged expected)")};
}

Finding ConsoleWindows(const Machine& machine, const Run& run) {
    if (!machine.desktopVisible)
        return {Verdict::NotShown, L"console windows: nobody can see this desktop"};
    if (run.hookError != 0)
        return {Verdict::NotShown,
                L"console windows: windows being shown were " + Error(run.hookError)};
    std::vector<std::wstring> corvanes, unknown, others;
    for (const ConsoleWindow& w : run.consoleWindows)
        (w.owner == ConsoleWindow::Owner::Corvane ? corvanes
         : w.owner == ConsoleWindow::Owner::Other ? others
                                                  : unknown)
            .push_back(w.seen);
    std::wstring text = L"console windows: ";
    if (!corvanes.empty()) return {Verdict::Fail, text + L"Corvane's: " + Joined(corvanes, L"; ")};
    if (!unknown.empty())
        return {Verdict::NotShown, text + L"none of Corvane's, but whose these are is not known: " +
                                       Joined(unknown, L"; ")};
    text += L"none of Corvane's";
    if (!others.empty()) text += L" (other programs': " + Joined(others, L"; ") + L")";
    if (!run.statusShownSeen)
        return {Verdict::NotShown,
                text + L", but the watch never saw Corvane's status window being shown either"};
    return {Verdict::Pass, text + L"; the watch saw Corvane's status window being shown"};
}

Finding FinalBox(const Machine& machine, const Run& run, bool pointMade) {
    if (!run.box) {
        if (!machine.desktopVisible)
            return {Verdict::NotShown,
                    L"final box: nobody can see this desktop, so Corvane asks nothing"};
        if (!machine.corvaneSeesDesktop)
            return {Verdict::NotShown,
                    L"final box: none; Corvane's rule says nobody can see this desktop"};
        if (!run.exitCode) return {Verdict::NotShown, L"final box: none seen"};
        if (*run.exitCode == 0)
            return pointMade
                       ? Finding{Verdict::Pass, L"final box: none, as the restore point was made"}
                       : Finding{Verdict::NotShown,
                                 L"final box: none; Corvane ended with 0, but no new "
                                 L"point of its own was listed"};
        return {Verdict::Fail, L"final box: never seen, although Corvane ended with exit code " +
                                   std::to_wstring(static_cast<int32_t>(*run.exitCode))};
    }
    const Box& b = *run.box;
    const auto ms = [](const std::optional<uint32_t>& value) {
        return value ? Seconds(*value / 1000.0) + L" s" : std::wstring(L"not read");
    };
    std::wstring text = L"final box: \"" + b.title + L"\", buttons " + Joined(b.buttons, L"|") +
                        (b.icon ? L", icon" : L", no icon") + L", topmost " +
                        (b.topmost ? L"yes" : L"no") + L", in front " +
                        (b.foreground ? L"yes" : L"no") + L"; last input " + ms(b.inputAgeMs) +
                        L" before it, foreground lock " + ms(b.lockTimeoutMs) +
                        L", status window in front " + (run.statusInFront ? L"yes" : L"no") +
                        (b.cancelPresses > 1 ? L"; Cancel pressed twice" : L"; Cancel pressed") +
                        (b.gone ? L", then it closed" : L", still there 10 s later");
    if (b.buttons.size() != 3 || !b.icon || !b.topmost || !b.gone) return {Verdict::Fail, text};
    if (b.foreground) return {Verdict::Pass, text};
    if (!b.inputAgeMs)
        return {Verdict::NotShown, text + L" (when the last input was is not known)"};
    const bool locked = b.lockTimeoutMs && *b.inputAgeMs < *b.lockTimeoutMs;
    if (*b.inputAgeMs < kRecentInputMs || locked)
        return {Verdict::NotShown, text + L" (recent input keeps any window out of front)"};
    return {Verdict::Fail, text};
}

Finding TraceErrors(const Run& run) {
    if (run.traceError != 0)
        return {Verdict::NotShown, L"trace errors: the debugger output was " +
                                       Error(run.traceError) +
                                       L" (is a debug-output viewer running?)"};
    if (!run.probeSeconds)
        return {Verdict::NotShown,
                L"trace errors: the check's own line never came back, so no line of Corvane's "
                L"could have (is a debugger attached to the check?)"};
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
    // Lines that were not heard can only add errors: those heard fail.
    if (errors.empty() && !run.traceDrained)
        return {Verdict::NotShown,
                L"trace errors: none heard, but the check's closing line did not come back after "
                L"Corvane ended, so its last lines may be missing (" +
                    std::to_wstring(run.trace.size()) + L" lines traced)"};
    return {errors.empty() ? Verdict::Pass : Verdict::Fail,
            L"trace errors: " + (errors.empty() ? std::wstring(L"none") : Joined(errors, L" / ")) +
                L" (" + std::to_wstring(run.trace.size()) +
                L" lines traced; the check's own line came back after " +
                Seconds(*run.probeSeconds) + L" s)"};
}

bool IsConsoleHost(std::wstring exe) {
    for (wchar_t& c : exe) c = static_cast<wchar_t>(std::towlower(c));
    return exe == L"conhost.exe" || exe == L"openconsole.exe" || exe == L"windowsterminal.exe" ||
           exe == L"csrss.exe";
}

}  // namespace

Family FamilyNow(const Family& members, const ProcessList& processes,
                 const CreationTime& createdOf) {
    Family family;
    for (const auto& [id, created] : members)
        if (processes.count(id) && createdOf(id) == created) family[id] = created;
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& [id, process] : processes) {
            const auto parent = family.find(process.parent);
            if (id == process.parent || parent == family.end() || family.count(id)) continue;
            const uint64_t created = createdOf(id);
            if (created == 0 || created < parent->second) continue;
            family[id] = created;
            grew = true;
        }
    }
    return family;
}

ConsoleWindow::Owner OwnerOf(uint32_t processId, const Family& family, const ProcessList& processes,
                             const CreationTime& createdOf) {
    using Owner = ConsoleWindow::Owner;
    if (family.count(processId)) return Owner::Corvane;  // a host's parent too
    const auto process = processes.find(processId);
    if (processId == 0 || process == processes.end()) return Owner::Unknown;
    const uint32_t parent = process->second.parent;
    if (IsConsoleHost(process->second.exe) || !processes.count(parent)) return Owner::Unknown;
    const uint64_t created = createdOf(processId), parentCreated = createdOf(parent);
    if (created == 0 || parentCreated == 0 || parentCreated > created) return Owner::Unknown;
    return Owner::Other;
}

bool ParseMinutes(const std::wstring& text, uint32_t& minutes) {
    if (text.empty() || text.size() > 4 || text.find_first_not_of(L"0123456789") != text.npos)
        return false;
    minutes = static_cast<uint32_t>(std::stoul(text));
    return minutes >= 1 && minutes <= 1440;
}

std::optional<std::wstring> Headline(const Run& run) {
    if (!AnotherCorvaneRan(run)) return std::nullopt;
    std::wstring why = Unfinished(run);
    why[0] = static_cast<wchar_t>(std::towupper(why[0]));
    return why +
           L": this Corvane ended at once with exit code 1618 and did nothing, so nothing "
           L"about its run is shown.";
}

std::vector<Finding> Findings(const Machine& machine, const SystemState& before, const Run& run,
                              const SystemState& after) {
    std::vector<Finding> findings;
    findings.push_back({machine.elevated ? Verdict::Pass : Verdict::Fail,
                        machine.elevated ? L"elevated: yes"
                                         : L"elevated: no; Corvane needs administrator rights: run "
                                           L"the check as administrator"});
    if (machine.desktopVisible != machine.corvaneSeesDesktop)
        findings.push_back(
            {Verdict::NotShown, std::wstring(L"desktop: the check reads it as ") +
                                    (machine.desktopVisible ? L"visible" : L"seen by nobody") +
                                    L" (" + machine.desktopSeen + L"), Corvane's rule as " +
                                    (machine.corvaneSeesDesktop ? L"visible" : L"seen by nobody")});
    findings.push_back(Outcome(before, run, after));
    bool pointMade = false;
    for (const RestorePoint& p : NewPoints(before, after)) pointMade = pointMade || IsCorvanes(p);
    pointMade = pointMade && before.pointsListed && after.pointsListed;
    if (machine.is64Bit) {
        findings.push_back(AboutTheRun(
            Frequency(L"creation frequency (64-bit view)", before.frequency, after.frequency), run,
            false));
        findings.push_back(AboutTheRun(Frequency(L"creation frequency (32-bit view)",
                                                 before.frequency32.value_or(RegistryValue{}),
                                                 after.frequency32.value_or(RegistryValue{})),
                                       run, false));
    } else {
        findings.push_back(AboutTheRun(
            Frequency(L"creation frequency", before.frequency, after.frequency), run, false));
    }
    for (const wchar_t* name : {L"VSS", L"swprv"})
        findings.push_back(AboutTheRun(
            Service(ServiceNamed(before, name), ServiceNamed(after, name), name, RepairRan(run)),
            run, false));
    findings.push_back(AboutTheRun(ConsoleWindows(machine, run), run, true));
    findings.push_back(AboutTheRun(FinalBox(machine, run, pointMade), run, true));
    findings.push_back(AboutTheRun(TraceErrors(run), run, true));
    return findings;
}

int ExitCode(const std::vector<Finding>& findings) {
    int code = findings.empty() ? 3 : 0;
    for (const Finding& f : findings) {
        if (f.verdict == Verdict::Fail) return 1;
        if (f.verdict == Verdict::NotShown) code = 3;
    }
    return code;
}

std::vector<std::wstring> ReportLines(const Machine& machine, const SystemState& before,
                                      const Run& run, const SystemState& after,
                                      const std::vector<Finding>& findings) {
    std::vector<std::wstring> lines;
    const auto state = [&lines, &machine](const wchar_t* when, const SystemState& s) {
        std::wstring line = std::wstring(when) + L": restore points " + Points(s) +
                            L"; creation frequency " + Value(s.frequency);
        if (machine.is64Bit)
            line += L" (32-bit view: " + Value(s.frequency32.value_or(RegistryValue{})) + L")";
        for (const SystemState::Service& service : s.services)
            line += L"; " + service.name + L" " + StartType(service);
        lines.push_back(line);
    };
    lines.push_back(L"Windows " + std::to_wstring(machine.major) + L"." +
                    std::to_wstring(machine.minor) + L" build " + std::to_wstring(machine.build) +
                    (machine.is64Bit ? L", 64-bit" : L", 32-bit") + L", computer " +
                    machine.computer + L"; elevated " + (machine.elevated ? L"yes" : L"no") +
                    L"; desktop visible " + (machine.desktopVisible ? L"yes" : L"no") + L" (" +
                    machine.desktopSeen + L"; Corvane's rule: " +
                    (machine.corvaneSeesDesktop ? L"yes" : L"no") + L")");
    lines.push_back(
        L"System protection of the system drive: not shown (Windows documents no way to read it)");
    state(L"Before", before);
    const std::wstring why = Unfinished(run);
    lines.push_back(L"Run: " +
                    (run.exitCode
                         ? L"exit code " + std::to_wstring(static_cast<int32_t>(*run.exitCode))
                         : why) +
                    L" after " + Seconds(run.seconds) + L" s");
    // Each stage: when it began, how long it took, what the window said.
    std::vector<std::pair<double, std::wstring>> stages = {{0.0, L"Corvane.exe started"}};
    stages.insert(stages.end(), run.labels.begin(), run.labels.end());
    if (run.box) stages.emplace_back(run.box->atSeconds, L"final box: " + OneLine(run.box->text));
    for (size_t i = 0; run.started && i < stages.size(); ++i) {
        const double end = i + 1 < stages.size() ? stages[i + 1].first : run.seconds;
        lines.push_back(L"  " + Seconds(stages[i].first, L"%6.1f") + L" s, " +
                        Seconds(end - stages[i].first, L"%5.1f") + L" s long: " + stages[i].second);
    }
    state(L"After", after);
    std::size_t failed = 0, notShown = 0;
    for (const Finding& f : findings) {
        failed += f.verdict == Verdict::Fail;
        notShown += f.verdict == Verdict::NotShown;
        lines.push_back((f.verdict == Verdict::Pass   ? L"PASS: "
                         : f.verdict == Verdict::Fail ? L"FAIL: "
                                                      : L"NOT SHOWN: ") +
                        f.text);
    }
    lines.push_back(std::to_wstring(failed) + L" of " + std::to_wstring(findings.size()) +
                    L" findings failed, " + std::to_wstring(notShown) + L" not shown; exit code " +
                    std::to_wstring(ExitCode(findings)));
    lines.push_back(L"Trace (" + std::to_wstring(run.trace.size()) + L" lines):");
    for (const std::wstring& line : run.trace) lines.push_back(L"  " + line);
    return lines;
}

}  // namespace check
