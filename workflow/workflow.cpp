#include "workflow/workflow.h"
#include "repairs/repairs.h"
#include "workflow/creation_frequency.h"

#include "base/desktop.h"
#include "base/handle.h"
#include "base/redirection.h"
#include "base/session.h"
#include "base/time.h"
#include "base/trace.h"
#include "os/os.h"
#include "restart/restart.h"
#include "status_window/status_window.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace workflow {

const wchar_t kRestorePointDescription[] = L"Brindlemoor - Restore Point";
const wchar_t kFinalMessageTitle[] = L"Tessaline";

namespace {

constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;
// Yes/No/Cancel (3) with the critical-error icon (16); application-modal,
// Yes is the default button. In front of every window (MB_SETFOREGROUND,
// MB_TOPMOST): after minutes of repairs the user has usually clicked
// elsewhere, and an ownerless box would open behind.
constexpr uint32_t kFinalMessageStyle = 19 | 0x10000 | 0x40000;

// The code recorded when the method returned 0 but the list of restore
// points did not grow. The program's own, in the range Windows leaves to
// applications and after the restart's numbers: no Windows code names this
// cause, and WMI itself did not fail.
constexpr int32_t kNoNewRestorePointCode = static_cast<int32_t>(0x80040630u);

// ERROR_INSTALL_ALREADY_RUNNING: deployment tools (Intune, Configuration
// Manager) read it as "try again later" and do so by themselves.
constexpr int32_t kAnotherRunIsInProgress = 1618;

constexpr uint32_t kErrorAccessDenied = 5;

// One Corvane at a time on the whole computer, every session and the
// system account included: two runs would each put back the other's
// temporary creation frequency, and repair under each other's requests.
// A guard that cannot be had counts as held: an unguarded run is the very
// thing it is there to prevent. The one exception is a caller without
// administrator rights (UAC's filtered token, a standard user), whom
// Windows keeps out of the guard: such a run goes on without it. It can
// change nothing the guard protects (writes under HKLM\SOFTWARE, service
// changes and WMI's methods are all refused to it, and so are the repairs'
// commands), so two of them at once, or one beside an administrator's run,
// are harmless; it shows its window and its question like any other. Its
// Yes restarts the computer as the user could from the Start menu, and its
// No asks the user's consent before anything runs with more rights.
class SingleRunGuard {
public:
    enum class State { Owned, Held, Unguarded, Failed };

    SingleRunGuard() : state_(Take()) {}
    ~SingleRunGuard() {
        if (state_ == State::Owned) os::ReleaseMutex(mutex_.get());
    }
    SingleRunGuard(const SingleRunGuard&) = delete;
    SingleRunGuard& operator=(const SingleRunGuard&) = delete;

    State state() const { return state_; }

    // Why this run ends, or goes on unguarded, for the trace; keeps its
    // historical name.
    std::wstring Reason() const {
        const std::wstring error = std::to_wstring(error_) + L" " + base::ErrorDescription(error_);
        switch (state_) {
        case State::Held:
            return L"Module1\\Main: another Corvane is running, this one ends (1618)";
        case State::Unguarded:
            return L"Module1\\Main: without administrator rights the one-at-a-time guard cannot "
                   L"be had (" +
                   error + L"), this run goes on without it";
        default:
            return L"Module1\\Main: the one-at-a-time guard failed (" + error +
                   L"), this one ends (1618)";
        }
    }

private:
    State Take() {
        // From Vista on a namespace that only administrators and the system
        // may make or open: nobody else can take the name first and keep
        // every Corvane out. Only the Corvane that made it runs; one that
        // finds it exists ends, as its maker runs. Before Vista, the global
        // name.
        std::wstring name = L"Global\\Brindlemoor.Corvane.Run";
        os::Handle space = 0;
        const os::CallResult madeSpace =
            os::CreateAdministratorsNamespace(L"Brindlemoor.Corvane", space);
        nameSpace_.reset(space);
        if (madeSpace.ok)
            name = L"Brindlemoor.Corvane\\Run";
        else if (madeSpace.lastError == os::kErrorAlreadyExists)
            return State::Held;
        else if (madeSpace.lastError != os::kErrorProcNotFound)
            // Windows documents no code for a caller outside the boundary.
            return Refused(madeSpace.lastError);

        os::Handle mutex = 0;
        const os::CallResult made = os::CreateMutexW(name, mutex);
        // Refused on XP: the name is an administrator's Corvane's, or this
        // user may not make global names.
        if (!made.ok)
            return made.lastError == kErrorAccessDenied ? Refused(made.lastError)
                                                        : Failed(made.lastError);
        mutex_.reset(mutex);
        // Abandoned: a Corvane was killed while it held the guard.
        const uint32_t wait = os::WaitForSingleObject(mutex, 0);
        if (wait == os::kWaitObject0 || wait == os::kWaitAbandoned) return State::Owned;
        return wait == os::kWaitTimeout ? State::Held : Failed(wait);  // WAIT_FAILED
    }

    // Refused to a caller who is no administrator: the run goes on. Refused
    // to an administrator, or where that cannot be told, it is a failure.
    State Refused(uint32_t error) {
        bool administrator = true;
        error_ = error;
        return os::CallerIsAdministrator(administrator).ok && !administrator ? State::Unguarded
                                                                             : State::Failed;
    }
    State Failed(uint32_t error) {
        error_ = error;
        return State::Failed;
    }

    // The namespace stays while the guard is held: closed, it would go, and
    // the next Corvane would make a new one.
    base::UniqueNamespace nameSpace_;
    base::UniqueHandle mutex_;
    uint32_t error_ = 0;
    const State state_;
};

// A new point of Corvane's: its description and type 0, and not one listed
// before (a point is the same when its sequence number and creation time
// both are). Another program's point made at the same moment does not
// count, and numbering that starts again after a reinstall does.
bool ListsNewPoint(const std::vector<os::RestorePoint>& before,
                   const std::vector<os::RestorePoint>& after, const std::wstring& description) {
    return std::any_of(after.begin(), after.end(), [&](const os::RestorePoint& point) {
        return point.description == description && point.type == 0 &&
               std::none_of(before.begin(), before.end(), [&point](const os::RestorePoint& old) {
                   return old.sequenceNumber == point.sequenceNumber &&
                          old.creationTime == point.creationTime;
               });
    });
}

struct LastError {
    int32_t code = 0;
    std::wstring description;
};

// What one restore-point request came to.
struct Attempt {
    // The value the method returned, where it counts: a 0 only when a new
    // point is listed (or the list cannot be read). None where the request
    // raised an error or returned no value: the run's result stays as it was.
    std::optional<int32_t> returned;
    // The error the request raised, 0 when it did not raise.
    int32_t raisedError = 0;
    // What the final message reports of it.
    LastError lastError;
};

// One restore-point request, the creation frequency 0 for it.
Attempt AttemptRestorePoint(const std::wstring& description) {
    Attempt attempt;
    // Unreadable (Windows XP's older provider, a broken WMI): a returned 0
    // is taken as it is.
    const os::RestorePointList before = os::ListRestorePoints(repairs::kWmiRequestLimitMs);

    os::WmiMethodCall call;
    call.nameSpace = L"root\\default";
    call.className = L"SystemRestore";
    call.method = L"CreateRestorePoint";
    call.impersonate = true;
    call.limitMs = repairs::kWmiRequestLimitMs;
    call.arguments = {
        {L"Description", description},
        {L"RestorePointType", int32_t{0}},  // an application installation
        {L"EventType", int32_t{100}},       // the beginning of a system change
    };

    os::WmiOutcome outcome;
    {
        const CreationFrequencyOverride frequency;
        outcome = os::InvokeWmiMethod(call);
    }
    switch (outcome.status) {
    case os::WmiStatus::Returned:
        if (outcome.returnValue == 0 && before.ok) {
            const os::RestorePointList after = os::ListRestorePoints(repairs::kWmiRequestLimitMs);
            if (after.ok && !ListsNewPoint(before.points, after.points, description)) {
                attempt.lastError.code = kNoNewRestorePointCode;
                attempt.lastError.description = L"CreateRestorePoint made no new restore point";
                break;
            }
        }
        attempt.returned = outcome.returnValue;
        break;
    case os::WmiStatus::NoValue:
        attempt.lastError.code = repairs::kNoReturnValueCode;
        attempt.lastError.description = L"CreateRestorePoint returned no value";
        break;
    case os::WmiStatus::Raised:
        attempt.raisedError = outcome.errorCode;
        attempt.lastError.code = outcome.errorCode;
        attempt.lastError.description = outcome.errorDescription;
        if (attempt.lastError.description.empty())
            attempt.lastError.description =
                base::ErrorDescription(static_cast<uint32_t>(outcome.errorCode));
        break;
    }
    return attempt;
}

std::wstring FinalMessage(const LastError& lastError, int32_t result) {
    const wchar_t* const crlf = L"\r\n";
    std::wstring text = L"Error Creating Restore Point";
    text += crlf + std::to_wstring(lastError.code) + L" - " + lastError.description;
    text += crlf + std::wstring(L"Result:  ") + std::to_wstring(result);
    text += crlf + std::wstring(L"Check System Restore Service State!");
    text += crlf + std::wstring(L"Repair performed, but you may need to restart the PC.");
    text += crlf;
    text += crlf +
            std::wstring(L"Click YES to restart now or NO to start the System Restore interface.");
    return text;
}

// Once the session has ended, or the Restart Manager asked Corvane to
// close, the run stops where it is: Windows may end it at any moment, and a
// repair cut off midway is worse than one not begun. The value the request
// changed is back by then (CreationFrequencyOverride).
bool StopsAtSessionEnd() {
    if (!base::SessionHasEnded()) return false;
    base::Trace(os::SessionEndHeard() == os::SessionEnd::CloseApp
                    ? L"Module1\\Main: Windows asks Corvane to close, nothing further is started"
                    : L"Module1\\Main: the session ends, nothing further is started");
    return true;
}

// The three attempts, the repairs between them and the final question.
// Returns the last result.
int32_t CreateOrRepair() {
    const std::wstring restorePointDescription = kRestorePointDescription;
    int32_t result = 1;  // the last value a request returned
    Attempt attempt = AttemptRestorePoint(restorePointDescription);
    result = attempt.returned.value_or(result);
    if (result == 0 || StopsAtSessionEnd()) return result;

    status_window::SetText(L"Errors encountered, Restarting System Restore...");
    repairs::QuickRepair();
    base::Delay(0.5);
    if (StopsAtSessionEnd()) return result;
    attempt = AttemptRestorePoint(restorePointDescription);
    result = attempt.returned.value_or(result);
    if (result == 0 || StopsAtSessionEnd()) return result;

    status_window::SetText(L"Errors encountered, Repairing System Restore...");
    repairs::FullRepair(attempt.raisedError);
    base::Delay(0.5);
    if (StopsAtSessionEnd()) return result;
    status_window::SetText(L"Creating System Restore Point...");
    attempt = AttemptRestorePoint(restorePointDescription);
    result = attempt.returned.value_or(result);
    if (result == 0 || StopsAtSessionEnd()) return result;

    // Unattended, the answer is Cancel: a restart is not Corvane's call.
    int answer = kIdCancel;
    if (base::NobodyCanSeeTheDesktop())
        base::Trace(  // historical name
            L"Module1\\Main: no visible desktop, the final message is "
            L"skipped (Cancel)");
    else
        answer = os::ShowMessageBox(FinalMessage(attempt.lastError, result), kFinalMessageTitle,
                                    kFinalMessageStyle);
    // The session may end while the box is open.
    if (StopsAtSessionEnd()) return result;
    if (answer == kIdYes) {
        restart::RestartComputer(restart::Applications::ForcedClosed);
    } else if (answer == kIdNo) {
        repairs::StartSystemRestoreUI();
    }
    return result;
}

}  // namespace

int32_t Run() {
    // Before anything else, the next run's included: a second Corvane
    // changes nothing and shows nothing.
    const SingleRunGuard guard;
    if (guard.state() == SingleRunGuard::State::Held ||
        guard.state() == SingleRunGuard::State::Failed) {
        base::Trace(guard.Reason());
        return kAnotherRunIsInProgress;
    }
    if (guard.state() == SingleRunGuard::State::Unguarded) base::Trace(guard.Reason());
    RecoverCreationFrequency();
    base::manageRedirection = true;

    status_window::Show();
    status_window::SetCaption(L"Brindlemoor - Corvane");
    status_window::SetText(L"Creating System Restore Point...");
    const int32_t result = CreateOrRepair();
    status_window::Unload();
    return result;
}

}  // namespace workflow
