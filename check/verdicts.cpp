#include "check/verdicts.h"

#include "check/wording.h"
#include "workflow/workflow.h"

#include <optional>

namespace check {

namespace {

constexpr uint32_t kDisabled = 4, kManual = 3;
// Input this recent keeps any window from taking the foreground, whatever
// the lock time-out says: the user is busy elsewhere.
constexpr uint32_t kRecentInputMs = 5000;

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

const SystemState::Service& ServiceNamed(const SystemState& state, const wchar_t* name) {
    for (const SystemState::Service& s : state.services)
        if (s.name == name) return s;
    static const SystemState::Service unread;
    return unread;
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

// Whether a FAIL seen during a run that did not end stands: a fault it saw
// happen (a window, a box, an error line) did happen; a state read after it
// may yet have changed.
enum class Fail { MayChange, Definite };

// A finding about the run: a run that never began, or that did nothing as
// another Corvane ran, shows nothing, and one that did not end shows no
// PASS; a definite FAIL stays one.
Finding AboutTheRun(Finding finding, const Run& run, Fail fail) {
    const std::wstring why = Unfinished(run);
    if (why.empty() || (run.started && fail == Fail::Definite && finding.verdict == Verdict::Fail &&
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
    // Lines that were not heard can only add errors: those heard fail,
    // whether or not the check's own lines came back.
    if (errors.empty() && !run.probeSeconds)
        return {Verdict::NotShown,
                L"trace errors: the check's own line never came back, so no line of Corvane's "
                L"could have (is a debugger attached to the check?)"};
    // A Corvane that did not end is not heard to its end either; AboutTheRun
    // says so.
    if (errors.empty() && !run.traceDrained && !run.timedOut)
        return {Verdict::NotShown,
                L"trace errors: none heard, but the check's closing line did not come back after "
                L"Corvane ended, so its last lines may be missing (" +
                    std::to_wstring(run.trace.size()) + L" lines traced)"};
    return {errors.empty() ? Verdict::Pass : Verdict::Fail,
            L"trace errors: " + (errors.empty() ? std::wstring(L"none") : Joined(errors, L" / ")) +
                L" (" + std::to_wstring(run.trace.size()) +
                L" lines traced; the check's own line " +
                (run.probeSeconds ? L"came back after " + Seconds(*run.probeSeconds) + L" s)"
                                  : std::wstring(L"never came back)"))};
}

}  // namespace

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
            Fail::MayChange));
        findings.push_back(AboutTheRun(Frequency(L"creation frequency (32-bit view)",
                                                 before.frequency32.value_or(RegistryValue{}),
                                                 after.frequency32.value_or(RegistryValue{})),
                                       run, Fail::MayChange));
    } else {
        findings.push_back(
            AboutTheRun(Frequency(L"creation frequency", before.frequency, after.frequency), run,
                        Fail::MayChange));
    }
    for (const wchar_t* name : kWatchedServices)
        findings.push_back(AboutTheRun(
            Service(ServiceNamed(before, name), ServiceNamed(after, name), name, RepairRan(run)),
            run, Fail::MayChange));
    findings.push_back(AboutTheRun(ConsoleWindows(machine, run), run, Fail::Definite));
    findings.push_back(AboutTheRun(FinalBox(machine, run, pointMade), run, Fail::Definite));
    findings.push_back(AboutTheRun(TraceErrors(run), run, Fail::Definite));
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

}  // namespace check
