// The check's verdicts: from what it observed to PASS, FAIL or NOT SHOWN,
// and its exit code. A PASS must mean "seen, and right".
#include "check/process_family.h"
#include "check/report.h"
#include "check/time_limit.h"
#include "check/verdicts.h"
#include "repairs/repairs.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace check;
using V = Verdict;

struct Scenario {
    Machine machine;
    SystemState before, after;
    Run run;
};

RegistryValue Dword(uint8_t low) { return {0, 4, {low, 0, 0, 0}}; }
const RegistryValue kAbsent{2, 0, {}};
const RestorePoint kOld{7, L"Before the driver", 0, L"20260101090000.000000-000"};
const RestorePoint kMade{8, L"Brindlemoor - Restore Point", 0, L"20260102090000.000000-000"};
ConsoleWindow Console(ConsoleWindow::Owner owner) { return {owner, L"ConsoleWindowClass"}; }

// A run that made its point at once (every finding PASS), or one that made
// none, repaired and asked (likewise), for each case to spoil.
Scenario Made() {
    Scenario s;
    s.machine = {L"PC", 10, 0, 19045, true, true, true, L"WinSta0", true};
    s.before.pointsListed = true;
    s.before.points = {kOld};
    s.before.frequency32 = s.before.frequency = kAbsent;
    s.before.services = {{L"VSS", 0, 3}, {L"swprv", 0, 3}};
    s.after = s.before;
    s.after.points.push_back(kMade);
    s.run.started = true;
    s.run.minutes = 60;
    s.run.exitCode = 0;
    s.run.labels = {{0.1, L"Creating System Restore Point..."}};
    s.run.hookError = s.run.traceError = 0;
    s.run.statusShownSeen = s.run.traceDrained = true;
    s.run.probeSeconds = 0.1;
    return s;
}
Scenario Failed() {
    Scenario s = Made();
    s.after.points = s.before.points;
    s.run.exitCode = 1;
    s.run.labels.emplace_back(9.0, L"Errors encountered, Restarting System Restore...");
    s.run.box = Box{
        30, L"Tessaline", L"Error", {L"&Yes", L"&No", L"Cancel"}, true, true, true, 600000, 200000,
        1,  true};
    return s;
}

TEST(CheckReport, EachObservationGivesItsVerdict) {
    using Owner = ConsoleWindow::Owner;
    struct Case {
        const char* what;
        Scenario (*base)();
        std::function<void(Scenario&)> spoil;
        const wchar_t* finding;  // the start of its text
        Verdict verdict;
        bool onlyElevatedPasses;
    };
    const auto none = [](Scenario&) {};
    // clang-format off
    const Case cases[] = {
        {"made at once", Made, none, L"", V::Pass, false},
        {"failed, repaired, asked", Failed, none, L"", V::Pass, false},
        {"nothing observed", Made, [](Scenario& s) { s = Scenario(); s.machine.elevated = s.machine.desktopVisible = true;
             s.machine.corvaneSeesDesktop = s.run.started = true; s.run.exitCode = 0; }, L"outcome", V::NotShown, true},
        {"not started", Made, [](Scenario& s) { s.run.started = false; s.run.startError = 2; }, L"outcome", V::Fail, true},
        {"timed out", Made, [](Scenario& s) { s.run.timedOut = true; s.run.exitCode.reset(); }, L"outcome", V::Fail, true},
        {"timed out, Corvane's console", Made, [](Scenario& s) { s.run.timedOut = true; s.run.exitCode.reset();
             s.run.consoleWindows = {Console(Owner::Corvane)}; }, L"console windows", V::Fail, false},
        {"exit code unread", Made, [](Scenario& s) { s.run.exitCode.reset(); }, L"outcome", V::NotShown, true},
        {"frequency changed", Made, [](Scenario& s) { s.after.frequency = Dword(0); }, L"creation frequency (64-bit view)", V::Fail, false},
        {"frequency removed, 32-bit view", Made, [](Scenario& s) { s.before.frequency32 = Dword(9); }, L"creation frequency (32-bit view)", V::Fail, false},
        {"frequency left, 32-bit view", Made, [](Scenario& s) { s.after.frequency32 = Dword(0); }, L"creation frequency (32-bit view)", V::Fail, false},
        {"32-bit view not read", Made, [](Scenario& s) { s.after.frequency32.reset(); }, L"creation frequency (32-bit view)", V::NotShown, false},
        {"frequency changed, 32-bit Windows", Made, [](Scenario& s) { s.machine.is64Bit = false;
             s.before.frequency = Dword(9); s.after.frequency = {0, 1, {9, 0, 0, 0}}; }, L"creation frequency:", V::Fail, false},
        {"left Disabled by a repair", Failed, [](Scenario& s) { s.before.services[0].startType = s.after.services[0].startType = 4; },
         L"service: VSS", V::Fail, false},
        {"Manual after a repair", Failed, [](Scenario& s) { s.before.services[1].startType = 4; }, L"service: swprv", V::Pass, false},
        {"changed without a repair", Made, [](Scenario& s) { s.after.services[0].startType = 2; }, L"service: VSS", V::Fail, false},
        {"removed", Made, [](Scenario& s) { s.after.services[1].error = 1060; }, L"service: swprv", V::Fail, false},
        {"Disabled, repair unknown", Made, [](Scenario& s) { s.run.labels.clear();
             s.before.services[0].startType = s.after.services[0].startType = 4; }, L"service: VSS", V::NotShown, false},
        {"Corvane's console", Made, [](Scenario& s) { s.run.consoleWindows = {Console(Owner::Corvane)}; }, L"console windows", V::Fail, false},
        {"another program's console", Made, [](Scenario& s) { s.run.consoleWindows = {Console(Owner::Other)}; }, L"console windows", V::Pass, false},
        {"a console of nobody known", Made, [](Scenario& s) { s.run.consoleWindows = {Console(Owner::Unknown)}; }, L"console windows", V::NotShown, false},
        {"status window never seen shown", Made, [](Scenario& s) { s.run.statusShownSeen = false; }, L"console windows", V::NotShown, false},
        {"not watched", Made, [](Scenario& s) { s.run.hookError = 5; }, L"console windows", V::NotShown, false},
        {"box missing, no point", Failed, [](Scenario& s) { s.run.box.reset(); }, L"final box", V::Fail, false},
        {"box missing, rules disagree", Failed, [](Scenario& s) { s.run.box.reset(); s.machine.corvaneSeesDesktop = false; }, L"final box", V::NotShown, false},
        {"box and rules disagree", Failed, [](Scenario& s) { s.machine.corvaneSeesDesktop = false; }, L"desktop", V::NotShown, false},
        {"box out of front, recent input", Failed, [](Scenario& s) { s.run.box->foreground = false; s.run.box->inputAgeMs = 2000;
             s.run.box->lockTimeoutMs = 0; }, L"final box", V::NotShown, false},
        {"box out of front, locked", Failed, [](Scenario& s) { s.run.box->foreground = false; s.run.box->inputAgeMs = 60000; }, L"final box", V::NotShown, false},
        {"box out of front, input unknown", Failed, [](Scenario& s) { s.run.box->foreground = false; s.run.box->inputAgeMs.reset(); }, L"final box", V::NotShown, false},
        {"box out of front, no input", Failed, [](Scenario& s) { s.run.box->foreground = false; }, L"final box", V::Fail, false},
        {"box not topmost", Failed, [](Scenario& s) { s.run.box->topmost = false; }, L"final box", V::Fail, false},
        {"box without icon", Failed, [](Scenario& s) { s.run.box->icon = false; }, L"final box", V::Fail, false},
        {"box still there", Failed, [](Scenario& s) { s.run.box->gone = false; }, L"final box", V::Fail, false},
        {"error lines", Made, [](Scenario& s) { s.run.trace = {L"Module1\\Main VB ERROR 5", L"\t\t- Access is denied."}; }, L"trace errors", V::Fail, false},
        {"own line never came back", Made, [](Scenario& s) { s.run.probeSeconds.reset(); }, L"trace errors", V::NotShown, false},
        {"capture not read", Made, [](Scenario& s) { s.run.traceError = 183; }, L"trace errors", V::NotShown, false},
        {"closing line not awaited, as a run starts", Made, [](Scenario& s) { s.run.traceDrained = check::Run().traceDrained; }, L"trace errors", V::NotShown, false},
        {"errors heard, no own line back", Made, [](Scenario& s) { s.run.trace = {L"ERROR 5"}; s.run.probeSeconds.reset(); s.run.traceDrained = false; }, L"trace errors", V::Fail, false},
        {"another Corvane ran", Failed, [](Scenario& s) { s.run.exitCode = 1618; s.run.box.reset(); s.run.labels.clear();
             s.run.trace = {L"Module1\\Main VB ERROR 5"}; s.before.services[0].startType = 4; }, L"outcome", V::NotShown, true},
        {"a new point of another description", Made, [](Scenario& s) { s.after.points.back().description = L"Update"; }, L"outcome", V::Fail, false},
        {"a new point of another type", Made, [](Scenario& s) { s.after.points.back().type = 12; }, L"outcome", V::Fail, false},
        {"0 without a new point", Made, [](Scenario& s) { s.after.points = s.before.points; }, L"outcome", V::Fail, false},
        {"0, an old number created anew", Made, [](Scenario& s) { s.after.points = {kMade}; s.after.points[0].sequenceNumber = 7; }, L"outcome", V::Pass, false},
        {"not 0 with a new point", Failed, [](Scenario& s) { s.after.points.push_back(kMade); }, L"outcome", V::Fail, false},
        {"points not listed after", Made, [](Scenario& s) { s.after.pointsListed = false; s.after.pointsTimedOut = true; }, L"outcome", V::NotShown, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scenario s = c.base();
        c.spoil(s);
        const std::vector<Finding> findings = Findings(s.machine, s.before, s.run, s.after);
        bool found = false;
        for (const Finding& f : findings) {
            const bool target = !*c.finding || f.text.rfind(c.finding, 0) == 0;
            found = found || target;
            if (target) {
                EXPECT_EQ(f.verdict, c.verdict) << f.text.c_str();
            }
            if (c.onlyElevatedPasses && f.text.rfind(L"elevated", 0) != 0) {
                EXPECT_NE(f.verdict, V::Pass) << f.text.c_str();
            }
        }
        EXPECT_TRUE(found) << "no finding " << c.finding;
        EXPECT_EQ(ReportOn(s.machine, s.before, s.run, s.after).exitCode, ExitCode(findings));
    }
}

// A process is Corvane's child only if it was created after the parent it
// names: a number Windows gave again adopts nothing, and a process gone
// before it was looked up is nobody's known.
TEST(CheckReport, CorvanesFamilyByNumbersAndCreationTimes) {
    using Owner = ConsoleWindow::Owner;
    const ProcessList processes = {
        {10, {1, L"Corvane.exe"}}, {11, {10, L"cmd.exe"}},   {12, {11, L"conhost.exe"}},
        {13, {10, L"reused.exe"}}, {20, {1, L"other.exe"}},  {21, {20, L"tool.exe"}},
        {22, {30, L"orphan.exe"}}, {23, {24, L"older.exe"}}, {24, {1, L"newer.exe"}}};
    const std::map<uint32_t, uint64_t> times = {{1, 1},  {10, 100}, {11, 110}, {12, 120}, {13, 50},
                                                {20, 5}, {21, 30},  {22, 40},  {23, 60},  {24, 70}};
    const CreationTime createdOf = [&times](uint32_t id) {
        const auto found = times.find(id);
        return found == times.end() ? uint64_t{0} : found->second;
    };
    const Family family = FamilyNow({{10, 100}}, processes, createdOf);
    EXPECT_EQ(family, (Family{{10, 100}, {11, 110}, {12, 120}}));
    EXPECT_TRUE(FamilyNow({{10, 99}}, processes, createdOf).empty()) << "10 is another process now";
    const std::pair<uint32_t, Owner> owners[] = {{12, Owner::Corvane}, {21, Owner::Other},
                                                 {13, Owner::Unknown}, {22, Owner::Unknown},
                                                 {23, Owner::Unknown}, {99, Owner::Unknown}};
    for (const auto& [id, owner] : owners)
        EXPECT_EQ(OwnerOf(id, family, processes, createdOf), owner) << id;
}

// The services whose start types the check judges: those the repairs set.
TEST(CheckReport, WatchesTheServicesTheRepairsSet) {
    using Names = std::vector<std::wstring>;
    EXPECT_EQ(
        Names(std::begin(kWatchedServices), std::end(kWatchedServices)),
        Names(std::begin(repairs::kShadowCopyServices), std::end(repairs::kShadowCopyServices)));
}

TEST(CheckReport, TheTimeLimitIsOneToFourteenHundredFortyMinutes) {
    const std::pair<const wchar_t*, uint32_t> cases[] = {{L"1", 1},    {L"60", 60}, {L"1440", 1440},
                                                         {L"1441", 0}, {L"0", 0},   {L"5x", 0},
                                                         {L"", 0},     {L"-5", 0},  {L"01440", 0}};
    for (const auto& [text, minutes] : cases) {
        uint32_t parsed = 0;
        EXPECT_EQ(ParseMinutes(text, parsed), minutes != 0) << text;
        if (minutes) {
            EXPECT_EQ(parsed, minutes) << text;
        }
    }
}

TEST(CheckReport, ExitCodeForEachMixOfVerdicts) {
    const std::pair<std::vector<Verdict>, int> cases[] = {{{V::Pass, V::Pass}, 0},
                                                          {{V::Pass, V::Fail}, 1},
                                                          {{V::NotShown, V::Fail}, 1},
                                                          {{V::Pass, V::NotShown}, 3},
                                                          {{}, 3}};
    for (const auto& c : cases) {
        std::vector<Finding> findings;
        for (Verdict v : c.first) findings.push_back({v, L""});
        EXPECT_EQ(ExitCode(findings), c.second) << &c - cases;
    }
}

}  // namespace
