// The whole run: attempts, escalation, the final message and its answers.
#include "workflow/workflow.h"
#include "sim_fixture.h"
#include "status_window/status_window.h"

#include <algorithm>
#include <optional>

namespace {

using sim::Raises;
using sim::Returns;
using Lines = std::vector<std::wstring>;

const std::wstring kCreating = L"Creating System Restore Point...";
const std::wstring kRestarting = L"Errors encountered, Restarting System Restore...";
const std::wstring kSettings = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore";
const std::wstring kSkipped =
    L"\tModule1\\Main: no visible desktop, the final message is skipped (Cancel)";

class WorkflowTest : public SimTest {
protected:
    int32_t Run(const std::vector<os::WmiOutcome>& outcomes) {
        m().wmiOutcomes.assign(outcomes.begin(), outcomes.end());
        return workflow::Run();
    }
    // How often a run of commands was started, one right after the other.
    long Count(const Lines& run) {
        const Lines started = Started();
        long count = 0;
        for (auto at = started.begin();
             (at = std::search(at, started.end(), run.begin(), run.end())) != started.end(); ++at)
            ++count;
        return count;
    }
    // Lines 2 and 3 of the final message, joined by "|"; empty without one.
    std::wstring ErrorAndResult() {
        if (m().messageBoxes.size() != 1) return L"";
        const std::wstring& text = m().messageBoxes[0].text;
        const size_t line2 = text.find(L"\r\n") + 2, line3 = text.find(L"\r\n", line2) + 2;
        return text.substr(line2, line3 - 2 - line2) + L"|" +
               text.substr(line3, text.find(L"\r\n", line3) - line3);
    }
};

TEST_F(WorkflowTest, OneRunShowsTheRequestEachStepAndTheFinalMessage) {
    Run({Returns(1), Returns(2), Returns(3)});
    ASSERT_EQ(m().wmiCalls.size(), 3u);
    const os::WmiMethodCall& call = m().wmiCalls[0];
    EXPECT_EQ(call.nameSpace + L":" + call.className + L"." + call.method,
              L"root\\default:SystemRestore.CreateRestorePoint");
    EXPECT_TRUE(call.impersonate);
    ASSERT_EQ(call.arguments.size(), 3u);
    EXPECT_EQ(std::get<std::wstring>(call.arguments[0].value), L"Brindlemoor - Restore Point");
    EXPECT_EQ(std::get<int32_t>(call.arguments[1].value), 0);
    EXPECT_EQ(std::get<int32_t>(call.arguments[2].value), 100);
    for (const std::wstring& line : Started()) EXPECT_EQ(line.find(L"[shown]"), line.npos) << line;

    EXPECT_EQ(m().window.caption, L"Brindlemoor - Corvane");
    EXPECT_EQ(m().labelAtWmiCall, (Lines{kCreating, kRestarting, kCreating}));
    // Painted while the repairs and pauses let the window answer.
    EXPECT_EQ(m().window.paintedLabels,
              (Lines{kRestarting, L"Errors encountered, Repairing System Restore..."}));
    ASSERT_EQ(m().messageBoxes.size(), 1u);
    const sim::MessageBoxCall& box = m().messageBoxes[0];
    EXPECT_EQ(box.title, L"Tessaline");
    EXPECT_EQ(box.style, 19u | 0x10000u | 0x40000u);  // in front: SETFOREGROUND, TOPMOST
    EXPECT_EQ(box.text,
              L"Error Creating Restore Point\r\n0 - \r\nResult:  3\r\n"
              L"Check System Restore Service State!\r\n"
              L"Repair performed, but you may need to restart the PC.\r\n\r\n"
              L"Click YES to restart now or NO to start the System Restore interface.");
    EXPECT_TRUE(box.statusWindowOpen);
    EXPECT_EQ(box.labelBehind, kCreating);
}

// The window as designed, at the screen's DPI and in the message boxes'
// font; a status too long for its line grows the label, and the window with
// it, never below the design.
TEST_F(WorkflowTest, TheStatusWindowFitsItsTextAtAnyDpi) {
    for (const int dpi : {96, 144}) {
        SetUp();
        m().dpi = dpi;
        status_window::Show();
        const os::StatusWindowLayout shown = m().window.layout;
        EXPECT_EQ(shown.clientWidth, (4230 * dpi + 720) / 1440);
        EXPECT_EQ(shown.font, os::WindowFont::Message);
        status_window::SetText(L"Creating System Restore Point...");
        EXPECT_EQ(m().window.layout.labelHeight, shown.labelHeight) << "one line fits";
        status_window::SetText(std::wstring(80, L'x'));
        const int grew = m().window.layout.labelHeight - shown.labelHeight;
        EXPECT_GT(grew, 0) << dpi;
        EXPECT_EQ(m().window.layout.clientHeight, shown.clientHeight + grew);
    }
}

// Escalation is driven by the returned value alone; line 2 of the final
// message is the last attempt's error, line 3 the last value returned (a
// request that timed out is an error like any other). Each
// repair is followed by a half-second pause (the only time that passes here),
// and a sound repository is reset only when the request before the full
// repair found the class missing.
TEST_F(WorkflowTest, EscalatesUntilAnAttemptSucceedsOrAllThreeFail) {
    const int32_t noNamespace = static_cast<int32_t>(0x8004100Eu);
    const int32_t timedOut = static_cast<int32_t>(0x80041069u);  // WBEM_E_TIMED_OUT
    const os::WmiOutcome none = sim::ReturnsNothing();
    struct Case {
        std::vector<os::WmiOutcome> outcomes;
        int32_t exitCode;
        int repairs;  // 0 none, 1 quick, 2 quick and full
        const wchar_t* message;
        bool reset;
    };
    // clang-format off
    const Case cases[] = {
        {{Returns(0)}, 0, 0, L"", false},
        {{Returns(5), Returns(0)}, 0, 1, L"", false},
        {{Raises(-1, L"x"), Returns(7), Returns(0)}, 0, 2, L"", false},
        {{Returns(1), Returns(2), Returns(3)}, 3, 2, L"0 - |Result:  3", false},
        {{Raises(11, L"a"), Raises(noNamespace, L"b"), Raises(noNamespace, L"Invalid namespace ")}, 1, 2,
         L"-2147217394 - Invalid namespace |Result:  1", true},
        {{Returns(42), Raises(5, L"x"), Raises(6, L"Generic failure ")}, 42, 2, L"6 - Generic failure |Result:  42", false},
        {{Raises(noNamespace, L"x"), Raises(6, L"y"), Returns(-3)}, -3, 2, L"0 - |Result:  -3", false},
        {{none, none, none}, 1, 2, L"-2147217407 - CreateRestorePoint returned no value|Result:  1", false},
        {{Raises(5, L""), Raises(5, L""), Raises(5, L"")}, 1, 2, L"5 - Access is denied.|Result:  1", false},
        {{Raises(timedOut, L"x"), Raises(timedOut, L"y"), Raises(timedOut, L"Timed out ")}, 1, 2,
         L"-2147217303 - Timed out |Result:  1", false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        SetUp();
        m().systemMessages[5] = L"Access is denied.";
        const int64_t start = m().clockMs;
        EXPECT_EQ(Run(c.outcomes), c.exitCode);
        EXPECT_EQ(m().clockMs - start, 1000 * c.repairs) << "a pause after each repair";
        EXPECT_EQ(m().wmiCalls.size(), c.outcomes.size());
        EXPECT_EQ(Count(kQuickRepair), std::min(c.repairs, 1));
        EXPECT_EQ(Count({L"cmd.exe /c net stop winmgmt /y"}), c.repairs / 2);
        EXPECT_EQ(ErrorAndResult(), c.message);
        EXPECT_EQ(Count({L"C:\\Windows\\system32\\wbem\\winmgmt.exe /resetrepository"}), c.reset);
        EXPECT_TRUE(m().window.destroyed);
    }
}

// Yes restarts (forced, and no fallback once Windows accepts), No starts the
// System Restore interface, Cancel neither. Unattended runs must not wait on
// a question nobody sees; where Windows cannot say whether anybody does, the
// question is asked.
TEST_F(WorkflowTest, TheFinalQuestionWhereSomebodyCanSeeItAndWhatItsAnswerDoes) {
    const std::wstring restore = L"C:\\Windows\\System32\\restore\\rstrui.exe";
    struct Case {
        int answer;  // Yes 6, No 7, Cancel 2, were it asked
        uint32_t stationFlags, session, majorVersion;
        bool queriesFail, asked;
    };
    const Case cases[] = {{6, 1, 1, 10, false, true}, {7, 1, 1, 10, false, true},
                          {2, 1, 1, 10, false, true}, {7, 0, 1, 10, false, false},
                          {6, 1, 0, 6, false, false}, {7, 1, 0, 5, false, true},  // XP: the console
                          {7, 0, 0, 10, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        SetUp();
        sim::Make64Bit();
        sim::AddFile(restore);
        m().messageBoxAnswer = c.answer;
        m().windowStationFlags = c.stationFlags;
        m().sessionId = c.session;
        m().shutdown.majorVersion = c.majorVersion;
        if (c.queriesFail) m().windowStationQuery = m().sessionQuery = sim::FailsWith(5);
        EXPECT_EQ(Run({Returns(1), Returns(2), Returns(3)}), 3);
        EXPECT_EQ(m().messageBoxes.size(), c.asked ? 1u : 0u);
        EXPECT_EQ(Traced(kSkipped), !c.asked);
        const int answer = c.asked ? c.answer : 2;
        ASSERT_EQ(m().shutdown.shutdownRequests.size(), answer == 6 ? 1u : 0u);
        for (const auto& request : m().shutdown.shutdownRequests)
            EXPECT_EQ(request.call + " " + std::to_string(request.flags),
                      "InitiateSystemShutdownExW 6");
        EXPECT_EQ(m().processes.back().program == restore, answer == 7);
        for (const sim::StartedProcess& p : m().processes)
            EXPECT_EQ(p.commandLine.find(L"shutdown.exe"), std::wstring::npos) << "no fallback";
    }
}

// The creation frequency as "type:bytes", "-" when absent.
std::string Frequency(const sim::Registry& registry) {
    const auto value =
        sim::RegistryValueOf(registry, kSettings, L"SystemRestorePointCreationFrequency");
    if (!value) return "-";
    std::string text = std::to_string(value->type) + ":";
    for (const uint8_t byte : value->data) text += std::to_string(byte) + " ";
    return text;
}

// For each request the creation frequency is 0 (Windows 8 and later skip a
// point younger than it), then exactly as before, type included, or absent.
// A 0 counts only when the list of restore points grew, or cannot be read.
TEST_F(WorkflowTest, TheCreationFrequencyIsZeroForEachRequestAndAZeroCountsOnlyForANewPoint) {
    struct Case {
        std::optional<os::RegistryValue> start;
        bool keyMissing, readOnly, raises;
        int32_t listingError, exitCode;
        long traces;
    };
    const os::RegistryValue day{os::kRegDword, {0xA0, 0x05, 0, 0}};
    const os::RegistryValue text{os::kRegSz, {'1', 0, '4', 0, '4', 0, '0', 0, 0, 0}};
    const os::RegistryValue zero{os::kRegDword, {0, 0, 0, 0}};
    const std::wstring skipped =
        L"-2147219920 - CreateRestorePoint made no new restore point|Result:  1";
    // clang-format off
    const Case cases[] = {
        {std::nullopt, false, false, false, 0, 0, 0}, {std::nullopt, false, false, true, 0, 1, 0},
        {zero, false, false, false, 0, 0, 0},         {day, false, false, true, 0, 1, 0},
        {text, false, false, true, 0, 1, 0},          {std::nullopt, true, false, false, 0, 1, 3},
        {day, false, true, false, 0, 1, 3},           {day, false, true, false, 0x1010, 0, 1},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        SetUp();
        sim::Make64Bit();
        m().recentRestorePoint = true;
        m().restorePointListingError = c.listingError;
        if (c.start)
            sim::SetRegistryValue(kSettings, L"SystemRestorePointCreationFrequency", *c.start);
        sim::AddRegistryKey(kSettings).writable = !c.readOnly;
        if (c.keyMissing) m().registry.keys.clear();
        const std::string before = Frequency(m().registry);
        EXPECT_EQ(Run(std::vector<os::WmiOutcome>(3, c.raises ? Raises(5, L"x") : Returns(0))),
                  c.exitCode);
        EXPECT_EQ(m().wmiCalls.size(), c.exitCode ? 3u : 1u);
        EXPECT_EQ(ErrorAndResult(), c.exitCode == 0 ? L""
                                    : c.raises      ? L"5 - x|Result:  1"
                                                    : skipped);
        for (const sim::Registry& during : m().registryAtWmiCall)
            EXPECT_EQ(Frequency(during), c.keyMissing || c.readOnly ? before : "4:0 0 0 0 ");
        EXPECT_EQ(Frequency(m().registry), before);
        EXPECT_TRUE(!c.keyMissing || m().registry.keys.empty()) << "opened, never created";
        EXPECT_EQ(Traced(L"CreationFrequency VB ERROR"), c.traces);
    }
}

const std::wstring kRecordKey = L"SOFTWARE\\Brindlemoor\\Corvane";

const std::wstring kFrequencyName = L"SystemRestorePointCreationFrequency";
const os::RegistryValue kZero{os::kRegDword, {0, 0, 0, 0}};
// What a run killed during its request leaves: 1440 minutes recorded in
// keys it made, 0 set.
const os::RegistryValue kRecordOf1440{3, {7, 0, 0, 0, 4, 0, 0, 0, 0xA0, 0x05, 0, 0}};
void PlantKilledRun() {
    sim::SetRegistryValue(kSettings, kFrequencyName, kZero);
    sim::AddRegistryKey(L"SOFTWARE\\Brindlemoor");
    sim::SetRegistryValue(kRecordKey, L"CreationFrequencyBefore", kRecordOf1440);
}

// A second Corvane, while the guard is held or cannot be had for any reason
// (a standard user is kept out of its namespace from Vista on), changes
// nothing, not even what a killed run left, and shows nothing; a guard whose
// holder was killed is taken over. Windows XP has only the global name.
TEST_F(WorkflowTest, OneCorvaneAtATimeOnTheWholeComputer) {
    const std::wstring inNamespace = L"Brindlemoor.Corvane\\Run";
    struct Case {
        bool xp, held, abandoned;
        uint32_t createError, namespaceError;
        const wchar_t* why;  // empty: it runs
    };
    const wchar_t* const another = L"another Corvane is running, this one ends (1618)";
    const Case cases[] = {{false, true, false, 0, 0, another},
                          {false, false, false, 0, 183, another},
                          {true, true, false, 0, 0, another},
                          {false, false, false, 5, 0, L"guard failed (5 Access is denied.)"},
                          {false, false, false, 6, 0, L"guard failed (6 The handle is invalid.)"},
                          {false, false, false, 0, 5, L"guard failed (5 Access is denied.)"},
                          {false, false, true, 0, 0, L""},
                          {true, false, false, 0, 0, L""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        SetUp();
        m().systemMessages = {{5, L"Access is denied."}, {6, L"The handle is invalid."}};
        PlantKilledRun();
        const std::wstring guard = c.xp ? L"Global\\Brindlemoor.Corvane.Run" : inNamespace;
        m().hasPrivateNamespaces = !c.xp;
        if (c.namespaceError) m().namespaceCreate = sim::FailsWith(c.namespaceError);
        m().mutexes[guard] = sim::NamedMutex{c.held, c.abandoned, c.createError, 0};
        const sim::Registry before = m().registry;
        const bool runs = !*c.why;
        EXPECT_EQ(Run({Returns(0)}), runs ? 0 : 1618);
        EXPECT_EQ(m().window.created, runs);
        EXPECT_EQ(m().wmiCalls.size(), runs ? 1u : 0u);
        EXPECT_EQ(Frequency(m().registry), runs ? "4:160 5 0 0 " : Frequency(before));
        EXPECT_EQ(m().registry.keys.size(), before.keys.size() - (runs ? 2 : 0));
        ASSERT_EQ(m().debugOutput.size(), 1u);
        EXPECT_NE(m().debugOutput[0].find(runs ? L"left at 0 is put back" : c.why),
                  std::wstring::npos)
            << m().debugOutput[0];
        EXPECT_EQ(m().mutexes[guard].ownedThrough, 0u) << "released at the end";
    }
}

// Without administrator rights Windows keeps Corvane out of the guard, and
// the run goes on as any run: its texts, three refused requests, both
// repairs, the box with the error, No through the consent prompt; it changes
// nothing, not even what a killed run left. Any other failure of the guard,
// or one whose cause cannot be told, still ends it with 1618, unseen.
TEST_F(WorkflowTest, WithoutAdministratorRightsTheRunIsShownAndChangesNothing) {
    const std::wstring restore = L"C:\\Windows\\System32\\restore\\rstrui.exe";
    struct Case {
        bool xp;
        uint32_t xpMutexError;  // an administrator's guard (5), another object's name (6)
        bool membershipUnknown;
        int32_t exitCode;
    };
    const Case cases[] = {
        {false, 0, false, 1}, {true, 5, false, 1}, {false, 0, true, 1618}, {true, 6, false, 1618}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        SetUp();
        m().systemMessages = {{5, L"Access is denied."}, {6, L"The handle is invalid."}};
        m().administrator = false;
        m().hasPrivateNamespaces = !c.xp;
        m().mutexes[L"Global\\Brindlemoor.Corvane.Run"].createError = c.xpMutexError;
        if (c.membershipUnknown) m().membershipQuery = sim::FailsWith(5);
        m().serviceManager.services[L"VSS"].startType = os::kServiceDisabled;
        m().messageBoxAnswer = 7;
        sim::AddFile(restore).requiresAdministrator = true;
        PlantKilledRun();
        const sim::Registry before = m().registry;

        EXPECT_EQ(Run({Returns(0), Returns(0), Returns(0)}), c.exitCode);
        EXPECT_TRUE(m().registry == before) << "the registry changed";
        EXPECT_EQ(m().serviceManager.services[L"VSS"].startType, os::kServiceDisabled);
        if (c.exitCode == 1618) {
            EXPECT_FALSE(m().window.created);
            EXPECT_TRUE(m().processes.empty());
            ASSERT_EQ(m().debugOutput.size(), 1u);
            EXPECT_NE(m().debugOutput[0].find(L"guard failed ("), std::wstring::npos);
            continue;
        }
        EXPECT_EQ(m().debugOutput.at(0),
                  L"\tModule1\\Main: without administrator rights the one-at-a-time guard cannot "
                  L"be had (5 Access is denied.), this run goes on without it");
        EXPECT_EQ(m().labelAtWmiCall, (Lines{kCreating, kRestarting, kCreating}));
        EXPECT_EQ(Count(kQuickRepair), 1);
        EXPECT_EQ(Count(kFullRepairEnd), 1);
        EXPECT_EQ(ErrorAndResult(), L"-2147217405 - Access denied |Result:  1");
        EXPECT_EQ(m().processes.back().program + L"|" + m().processes.back().verb,
                  restore + L"|runas");
    }
}

// What a request changes is recorded, on disk, before it is changed: the run
// after a kill puts it back while it is still the 0 written. The end of the
// session, or the Restart Manager's close, puts it back at once (the window
// closed or not), and nothing more starts; a cancelled shutdown changes
// nothing. Corvane's keys go with the record; a key of the maker's stays.
TEST_F(WorkflowTest, TheCreationFrequencyComesBackAfterAKillOrTheEndOfTheSession) {
    const os::RegistryValue day{os::kRegDword, {0xA0, 0x05, 0, 0}};
    const os::RegistryValue text{os::kRegSz, {'6', 0, '0', 0, 0, 0}};
    const os::RegistryValue hour{os::kRegDword, {60, 0, 0, 0}};
    enum Ending { Kill, SessionEnds, AppMustClose, Cancelled, ClosedThenEnds, EndsInQuickRepair };
    enum MakerKey { None, Empty, WithValue };
    struct Case {
        std::optional<os::RegistryValue> start;
        Ending ending;
        bool changedByHand;
        MakerKey makerKey;
        const char* after;  // the frequency once all is over
        size_t requests, started;
    };
    const Case cases[] = {
        {day, Kill, false, None, "4:160 5 0 0 ", 1, 0},
        {text, Kill, false, WithValue, "1:54 0 48 0 0 0 ", 1, 0},
        {std::nullopt, Kill, false, Empty, "-", 1, 0},
        {day, Kill, true, None, "4:60 0 0 0 ", 1, 0},
        {day, SessionEnds, false, WithValue, "4:160 5 0 0 ", 1, 0},
        {std::nullopt, SessionEnds, false, Empty, "-", 1, 0},
        {day, AppMustClose, false, None, "4:160 5 0 0 ", 1, 0},
        {day, Cancelled, false, None, "4:160 5 0 0 ", 1, 0},
        {day, ClosedThenEnds, false, None, "4:160 5 0 0 ", 2, kQuickRepair.size()},
        {day, EndsInQuickRepair, false, None, "4:160 5 0 0 ", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        SetUp();
        if (c.start) sim::SetRegistryValue(kSettings, kFrequencyName, *c.start);
        if (c.makerKey == Empty) sim::AddRegistryKey(L"SOFTWARE\\Brindlemoor");
        if (c.makerKey == WithValue)
            sim::SetRegistryValue(L"SOFTWARE\\Brindlemoor", L"Other", hour);
        const size_t keys = m().registry.keys.size();
        m().recentRestorePoint = true;  // a point is made only with the 0
        if (c.ending != Kill) {
            m().sessionEndCancelled = c.ending == Cancelled;
            m().sessionEndClosesApp = c.ending == AppMustClose;
            m().sessionEndsAtRequest = c.ending == ClosedThenEnds ? 2 : 1;
            m().closeWindowAtDispatch = c.ending == ClosedThenEnds;  // in the quick repair
            if (c.ending == EndsInQuickRepair) {
                m().sessionEndsAtRequest = 0;
                m().sessionEndsAtDispatch = 2;  // awaiting its first command
                sim::AddFile(L"C:\\Windows\\System32\\cmd.exe").runMs = 60000;
            }
            std::vector<os::WmiOutcome> outcomes(3, Returns(0));
            if (c.ending >= ClosedThenEnds) outcomes[0] = Returns(1);
            const int64_t start = m().clockMs;
            EXPECT_EQ(Run(outcomes), c.ending == Cancelled ? 0 : 1);
            EXPECT_LT(m().clockMs - start, 60000) << "the command under way is not awaited";
            EXPECT_EQ(m().wmiCalls.size(), c.requests);
            EXPECT_EQ(Started().size(), c.started);
            EXPECT_TRUE(m().messageBoxes.empty());
            EXPECT_EQ(Frequency(m().registryAtSessionEnd),
                      c.ending == Cancelled ? "4:0 0 0 0 " : c.after);
            EXPECT_EQ(m().registryAtSessionEnd.keys.size(), keys + (c.ending == Cancelled ? 2 : 0))
                << "the record goes with the value";
            EXPECT_EQ(Traced(c.ending == AppMustClose ? L"Windows asks Corvane to close, nothing "
                                                      : L"the session ends, nothing further"),
                      c.ending != Cancelled);
        } else {
            m().killedAtRequest = 1;
            EXPECT_THROW(Run({Returns(0)}), sim::Killed);
            m().registry = m().registryAtWmiCall[0];  // what the kill left behind
            ASSERT_FALSE(m().flushedKeys.empty());
            EXPECT_EQ(m().flushedKeys.back().values.count(L"CREATIONFREQUENCYBEFORE"), 1u);
            EXPECT_EQ(Frequency(m().registry), "4:0 0 0 0 ");
            if (c.changedByHand) sim::SetRegistryValue(kSettings, kFrequencyName, hour);
            m().killedAtRequest = 0;
            m().window.destroyed = true;
            m().recentRestorePoint = false;
            EXPECT_EQ(Run({Returns(0)}), 0);
            EXPECT_EQ(Traced(c.changedByHand ? L"changed since a run ended midway is kept"
                                             : L"left at 0 is put back"),
                      1);
        }
        EXPECT_EQ(Frequency(m().registryAtWmiCall.back()), "4:0 0 0 0 ");
        EXPECT_EQ(Frequency(m().registry), c.after);
        EXPECT_EQ(m().registry.keys.size(), keys) << "Corvane's keys are left, or the maker's gone";
        EXPECT_EQ(
            sim::RegistryValueOf(m().registry, L"SOFTWARE\\Brindlemoor", L"Other").has_value(),
            c.makerKey == WithValue);
        EXPECT_EQ(Traced(L"VB ERROR"), 0);
    }
}

// The record goes only once the value is back: a put-back that fails, at
// start or at the end of a request, leaves it for the next run, and a
// request meanwhile keeps it rather than record its own 0, also where it
// cannot write its 0. An unreadable record goes with Corvane's keys.
TEST_F(WorkflowTest, TheRecordStaysUntilTheValueIsBack) {
    struct Case {
        bool killedBefore, unreadable;
        int failingWrite;  // the nth registry write of the first run fails
        bool settingsReadOnly;
        const char* afterFirst;
        bool recordAfterFirst;
    };
    const Case cases[] = {{true, false, 1, false, "4:160 5 0 0 ", false},
                          {true, false, 0, true, "4:0 0 0 0 ", true},
                          {false, false, 3, false, "4:0 0 0 0 ", true},
                          {false, true, 0, false, "4:160 5 0 0 ", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        SetUp();
        sim::SetRegistryValue(kSettings, kFrequencyName, {os::kRegDword, {0xA0, 0x05, 0, 0}});
        const size_t keys = m().registry.keys.size();
        if (c.killedBefore) PlantKilledRun();
        if (c.unreadable) {
            sim::AddRegistryKey(L"SOFTWARE\\Brindlemoor");
            sim::SetRegistryValue(kRecordKey, L"CreationFrequencyBefore", {3, {7}});
        }
        m().failRegistryWrite = c.failingWrite;
        sim::AddRegistryKey(kSettings).writable = !c.settingsReadOnly;
        EXPECT_EQ(Run({Returns(0)}), 0);
        EXPECT_EQ(Frequency(m().registry), c.afterFirst);
        EXPECT_EQ(m().registry.keys.size(), keys + (c.recordAfterFirst ? 2 : 0));
        EXPECT_EQ(Traced(L"RestoreCreationFrequency VB ERROR: 5"),
                  c.failingWrite || c.settingsReadOnly);
        m().failRegistryWrite = 0;
        sim::AddRegistryKey(kSettings).writable = true;
        m().window.destroyed = true;
        EXPECT_EQ(Run({Returns(0)}), 0);
        EXPECT_EQ(Frequency(m().registry), "4:160 5 0 0 ");
        EXPECT_EQ(m().registry.keys.size(), keys) << "Corvane's keys are left";
    }
}

// A request that never returns ends at twenty minutes, as a raised error:
// the value is back, and the quick repair and the next request follow.
TEST_F(WorkflowTest, ARequestThatHangsEndsAtItsLimitAndTheRepairsFollow) {
    sim::SetRegistryValue(kSettings, kFrequencyName, {os::kRegDword, {60, 0, 0, 0}});
    m().hangsAtRequest = 1;
    const int64_t start = m().clockMs;
    EXPECT_EQ(Run({Returns(0)}), 0);
    EXPECT_EQ(m().clockMs - start, 20 * 60 * 1000 + 1000) << "the limit, then the pause";
    EXPECT_EQ(Count(kQuickRepair), 1);
    ASSERT_EQ(m().wmiCalls.size(), 2u);
    EXPECT_EQ(Frequency(m().registryAtWmiCall[1]), "4:0 0 0 0 ");
    EXPECT_EQ(Frequency(m().registry), "4:60 0 0 0 ");
}

// A 0 counts for a new point of Corvane's description and type 0 that was
// not listed before, by sequence number and creation time together.
TEST_F(WorkflowTest, APointCountsAsMadeOnlyWhenCorvanesOwnIsNew) {
    const os::RestorePoint old{7, L"20261201100000.000000+000", L"Brindlemoor - Restore Point", 0};
    struct Case {
        bool skipped, othersMakePoints;
        uint32_t nextSequenceNumber;  // 7: numbering started again
        int32_t exitCode;
    };
    const Case cases[] = {{true, true, 8, 1}, {false, false, 7, 0}, {false, true, 8, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        SetUp();
        m().restorePoints = {old};
        m().recentRestorePoint = c.skipped;
        sim::AddRegistryKey(kSettings).writable = !c.skipped;  // the frequency stays as it is
        m().otherProgramMakesPoints = c.othersMakePoints;
        m().nextSequenceNumber = c.nextSequenceNumber;
        EXPECT_EQ(Run(std::vector<os::WmiOutcome>(3, Returns(0))), c.exitCode);
        EXPECT_EQ(m().wmiCalls.size(), c.exitCode ? 3u : 1u);
    }
}

}  // namespace
