#include "workflow/workflow.h"
#include "repairs/repairs.h"
#include "workflow/creation_frequency.h"

#include "base/desktop.h"
#include "base/handle.h"
#include "base/paths.h"
#include "base/redirection.h"
#include "base/trace.h"
#include "os/os.h"
#include "restart/restart.h"
#include "status_window/status_window.h"

#include <algorithm>
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

// One Corvane at a time on the whole computer, every session and the
// system account included: two runs would each put back the other's
// temporary creation frequency, and repair under each other's requests.
// A guard that cannot be had, for whatever reason, counts as held: an
// unguarded run is the very thing it is there to prevent.
class SingleRunGuard {
public:
    SingleRunGuard() : error_(Take()) {}
    ~SingleRunGuard() {
        if (owned_) os::ReleaseMutex(mutex_.get());
    }
    SingleRunGuard(const SingleRunGuard&) = delete;
    SingleRunGuard& operator=(const SingleRunGuard&) = delete;

    bool owned() const { return owned_; }

    // Why this run ends, for the trace; keeps its historical name.
    std::wstring Reason() const {
        if (held_) return L"Module1\\Main: another Corvane is running, this one ends (1618)";
        return L"Module1\\Main: the one-at-a-time guard failed (" + std::to_wstring(error_) + L" " +
               base::ErrorDescription(error_) + L"), this one ends (1618)";
    }

private:
    // 0 once the guard is owned or found held, otherwise the error.
    uint32_t Take() {
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
        held_ = !madeSpace.ok && madeSpace.lastError == os::kErrorAlreadyExists;
        if (madeSpace.ok)
            name = L"Brindlemoor.Corvane\\Run";
        else if (held_)
            return 0;
        else if (madeSpace.lastError != os::kErrorProcNotFound)
            return madeSpace.lastError;

        os::Handle mutex = 0;
        const os::CallResult made = os::CreateMutexW(name, mutex);
        if (!made.ok) return made.lastError;
        mutex_.reset(mutex);
        // Abandoned: a Corvane was killed while it held the guard.
        const uint32_t wait = os::WaitForSingleObject(mutex, 0);
        owned_ = wait == os::kWaitObject0 || wait == os::kWaitAbandoned;
        held_ = wait == os::kWaitTimeout;
        return owned_ || held_ ? 0 : wait;  // WAIT_FAILED
    }

    // The namespace stays while the guard is held: closed, it would go, and
    // the next Corvane would make a new one.
    base::UniqueNamespace nameSpace_;
    base::UniqueHandle mutex_;
    bool owned_ = false;
    bool held_ = false;
    uint32_t error_ = 0;
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

// One restore-point request. The result changes only when the method
// returned a value, and a 0 only when a new point is listed (or the list
// cannot be read); a raised error leaves it as it was. Returns the error
// the request raised, 0 when it did not raise.
int32_t AttemptRestorePoint(const std::wstring& description, int32_t& result,
                            LastError& lastError) {
    lastError = LastError{};
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
                lastError.code = kNoNewRestorePointCode;
                lastError.description = L"CreateRestorePoint made no new restore point";
                break;
            }
        }
        result = outcome.returnValue;
        break;
    case os::WmiStatus::NoValue:
        lastError.code = repairs::kNoReturnValueCode;
        lastError.description = L"CreateRestorePoint returned no value";
        break;
    case os::WmiStatus::Raised:
        lastError.code = outcome.errorCode;
        lastError.description = outcome.errorDescription;
        if (lastError.description.empty())
            lastError.description =
                base::ErrorDescription(static_cast<uint32_t>(outcome.errorCode));
        break;
    }
    return outcome.status == os::WmiStatus::Raised ? outcome.errorCode : 0;
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

}  // namespace

int32_t Run() {
    // Before anything else, the next run's included: a second Corvane
    // changes nothing and shows nothing.
    const SingleRunGuard guard;
    if (!guard.owned()) {
        base::Trace(guard.Reason());
        return kAnotherRunIsInProgress;
    }
    RecoverCreationFrequency();
    base::manageRedirection = true;

    const std::wstring windowTitle = L"Brindlemoor - Corvane";
    const std::wstring restorePointDescription = kRestorePointDescription;

    status_window::Show();
    status_window::SetCaption(windowTitle);
    status_window::SetText(L"Creating System Restore Point...");

    int32_t result = 1;
    LastError lastError;
    int32_t raisedError = AttemptRestorePoint(restorePointDescription, result, lastError);

    if (result != 0) {
        status_window::SetText(L"Errors encountered, Restarting System Restore...");
        repairs::QuickRepair();
        base::Delay(0.5);
        raisedError = AttemptRestorePoint(restorePointDescription, result, lastError);
    }

    if (result != 0) {
        status_window::SetText(L"Errors encountered, Repairing System Restore...");
        repairs::FullRepair(raisedError);
        base::Delay(0.5);
        status_window::SetText(L"Creating System Restore Point...");
        AttemptRestorePoint(restorePointDescription, result, lastError);
    }

    if (result != 0) {
        // Unattended, the answer is Cancel: a restart is not Corvane's call.
        int answer = kIdCancel;
        if (base::NobodyCanSeeTheDesktop())
            base::Trace(  // historical name
                L"Module1\\Main: no visible desktop, the final message is "
                L"skipped (Cancel)");
        else
            answer = os::ShowMessageBox(FinalMessage(lastError, result), kFinalMessageTitle,
                                        kFinalMessageStyle);
        if (answer == kIdYes) {
            restart::RestartComputer(true);
        } else if (answer == kIdNo) {
            repairs::StartSystemRestoreUI();
        }
    }

    status_window::Unload();
    return result;
}

}  // namespace workflow
