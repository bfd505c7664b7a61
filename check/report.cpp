#include "check/report.h"

#include "check/verdicts.h"
#include "check/wording.h"

#include <cwctype>

namespace check {

namespace {

// A text of several lines on one line of the report.
std::wstring OneLine(std::wstring text) {
    for (size_t at; (at = text.find(L"\r\n")) != std::wstring::npos;) text.replace(at, 2, L" / ");
    return text;
}

// The report's first line, where the run needs one before anything else.
std::optional<std::wstring> Headline(const Run& run) {
    if (!AnotherCorvaneRan(run)) return std::nullopt;
    std::wstring why = Unfinished(run);
    why[0] = static_cast<wchar_t>(std::towupper(why[0]));
    return why +
           L": this Corvane ended at once with exit code 1618 and did nothing, so nothing "
           L"about its run is shown.";
}

}  // namespace

Report ReportOn(const Machine& machine, const SystemState& before, const Run& run,
                const SystemState& after) {
    const std::vector<Finding> findings = Findings(machine, before, run, after);
    Report report{Headline(run), {}, ExitCode(findings)};
    std::vector<std::wstring>& lines = report.lines;
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
    return report;
}

}  // namespace check
