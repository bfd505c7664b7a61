#include "app/workflow.h"
#include "app/repairs.h"

#include "common/paths.h"
#include "common/redirection.h"
#include "common/trace.h"
#include "os/os.h"
#include "shutdown/restart.h"
#include "ui/status_window.h"

#include <optional>
#include <string>

namespace Module1 {

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
// applications and after ShutDownMod's numbers: no Windows code names this
// cause, and WMI itself did not fail.
constexpr int32_t kNoNewRestorePointCode = static_cast<int32_t>(0x80040630u);

constexpr uint32_t kErrorFileNotFound = 2;

const wchar_t kSystemRestoreKey[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore";
const wchar_t kCreationFrequency[] = L"SystemRestorePointCreationFrequency";

void TraceRegistryFailure(const wchar_t* procedure, uint32_t error) {
    CommonModule::DPrint(L"Module1\\" + std::wstring(procedure) + L" VB ERROR: " +
                         std::to_wstring(error) + L" " + CommonModule::ErrorDescription(error));
}

// Windows 8 and later return 0 without making a point while the last one is
// younger than the creation frequency (minutes; 24 hours when the value is
// absent; 0 never skips). For one request the frequency is 0, then exactly
// what was there before, type included, or no value at all. The key is only
// opened: where it is missing or read-only, the request goes ahead as is.
class CreationFrequencyOverride {
public:
    CreationFrequencyOverride() {
        os::RegistryValue saved;
        uint32_t error = os::RegistryQueryValue(kSystemRestoreKey, kCreationFrequency, saved);
        if (error == 0)
            saved_ = saved;
        else if (error == kErrorFileNotFound)
            error = 0;
        if (error == 0)
            error = os::RegistrySetValue(kSystemRestoreKey, kCreationFrequency,
                                         os::RegistryValue{os::kRegDword, {0, 0, 0, 0}});
        if (error != 0) TraceRegistryFailure(L"SetCreationFrequency", error);
        changed_ = error == 0;
    }
    ~CreationFrequencyOverride() {
        if (!changed_) return;
        const uint32_t error =
            saved_ ? os::RegistrySetValue(kSystemRestoreKey, kCreationFrequency, *saved_)
                   : os::RegistryDeleteValue(kSystemRestoreKey, kCreationFrequency);
        if (error != 0) TraceRegistryFailure(L"RestoreCreationFrequency", error);
    }
    CreationFrequencyOverride(const CreationFrequencyOverride&) = delete;
    CreationFrequencyOverride& operator=(const CreationFrequencyOverride&) = delete;

private:
    std::optional<os::RegistryValue> saved_;
    bool changed_ = false;
};

// The highest SequenceNumber of the restore points; none when the list
// cannot be read (Windows XP's older provider, a broken WMI).
std::optional<uint32_t> HighestSequenceNumber() {
    const os::WmiQueryOutcome listing = os::WmiQueryMaximum(
        L"root\\default", L"SELECT SequenceNumber FROM SystemRestore", L"SequenceNumber");
    if (!listing.ok) return std::nullopt;
    return listing.maximum;
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
    const std::optional<uint32_t> before = HighestSequenceNumber();

    os::WmiMethodCall call;
    call.nameSpace = L"root\\default";
    call.className = L"SystemRestore";
    call.method = L"CreateRestorePoint";
    call.impersonate = true;
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
        if (outcome.returnValue == 0 && before) {
            const std::optional<uint32_t> after = HighestSequenceNumber();
            if (after && *after <= *before) {
                lastError.code = kNoNewRestorePointCode;
                lastError.description = L"CreateRestorePoint made no new restore point";
                break;
            }
        }
        result = outcome.returnValue;
        break;
    case os::WmiStatus::NoValue:
        lastError.code = kNoReturnValueCode;
        lastError.description = L"CreateRestorePoint returned no value";
        break;
    case os::WmiStatus::Raised:
        lastError.code = outcome.errorCode;
        lastError.description = outcome.errorDescription;
        if (lastError.description.empty())
            lastError.description =
                CommonModule::ErrorDescription(static_cast<uint32_t>(outcome.errorCode));
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

bool NobodyCanSeeTheDesktop() {
    uint32_t flags = 0;
    if (os::ProcessWindowStationFlags(flags).ok && (flags & os::kWindowStationVisible) == 0)
        return true;
    uint32_t session = 0;
    os::VersionInfo version;
    return os::CurrentProcessSessionId(session).ok && session == 0 &&
           os::GetVersionExA(version).ok && version.majorVersion >= 6;
}

int32_t Main() {
    CommonModule::bManageFSRedir = true;

    const std::wstring windowTitle = L"Brindlemoor - Corvane";
    const std::wstring restorePointDescription = kRestorePointDescription;

    frmStatusWin::Show();
    frmStatusWin::SetCaption(windowTitle);
    frmStatusWin::Label1::SetCaption(L"Creating System Restore Point...");

    int32_t result = 1;
    LastError lastError;
    int32_t lRaisedError = AttemptRestorePoint(restorePointDescription, result, lastError);

    if (result != 0) {
        frmStatusWin::Label1::SetCaption(L"Errors encountered, Restarting System Restore...");
        QuickRepair();
        CommonModule::Delay(0.5);
        lRaisedError = AttemptRestorePoint(restorePointDescription, result, lastError);
    }

    if (result != 0) {
        frmStatusWin::Label1::SetCaption(L"Errors encountered, Repairing System Restore...");
        FullRepair(lRaisedError);
        CommonModule::Delay(0.5);
        frmStatusWin::Label1::SetCaption(L"Creating System Restore Point...");
        AttemptRestorePoint(restorePointDescription, result, lastError);
    }

    if (result != 0) {
        // Unattended, the answer is Cancel: a restart is not Corvane's call.
        int answer = kIdCancel;
        if (NobodyCanSeeTheDesktop())
            CommonModule::DPrint(
                L"Module1\\Main: no visible desktop, the final message is "
                L"skipped (Cancel)");
        else
            answer = os::ShowMessageBox(FinalMessage(lastError, result), kFinalMessageTitle,
                                        kFinalMessageStyle);
        if (answer == kIdYes) {
            ShutDownMod::RestartComputer(true);
        } else if (answer == kIdNo) {
            StartSystemRestoreUI();
        }
    }

    frmStatusWin::Unload();
    return result;
}

}  // namespace Module1
