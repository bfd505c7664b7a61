#include "app/workflow.h"
#include "app/repairs.h"

#include "common/paths.h"
#include "common/redirection.h"
#include "common/trace.h"
#include "os/os.h"
#include "shutdown/restart.h"
#include "ui/status_window.h"

#include <string>

namespace Module1 {

namespace {

constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;
// Yes/No/Cancel (3) with the critical-error icon (16); application-modal,
// Yes is the default button. In front of every window (MB_SETFOREGROUND,
// MB_TOPMOST): after minutes of repairs the user has usually clicked
// elsewhere, and an ownerless box would open behind.
constexpr uint32_t kFinalMessageStyle = 19 | 0x10000 | 0x40000;

// The code recorded when WMI accepts the call but hands back no output:
// nothing confirms that a restore point was made (WBEM_E_FAILED).
constexpr int32_t kNoReturnValueCode = static_cast<int32_t>(0x80041001u);

struct LastError {
    int32_t code = 0;
    std::wstring description;
};

// One restore-point request. The result changes only when the method
// returned a value; a raised error leaves it as it was.
void AttemptRestorePoint(const std::wstring& description, int32_t& result, LastError& lastError) {
    lastError = LastError{};

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

    const os::WmiOutcome outcome = os::InvokeWmiMethod(call);
    switch (outcome.status) {
    case os::WmiStatus::Returned:
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

// A window station that is not interactive (a service's, a deployment
// job's), or session 0 from Vista on, which holds services only: a question
// there would wait for ever. When Windows cannot say, it is asked.
bool NobodyCanSeeTheDesktop() {
    uint32_t flags = 0;
    if (os::ProcessWindowStationFlags(flags).ok && (flags & os::kWindowStationVisible) == 0)
        return true;
    uint32_t session = 0;
    os::VersionInfo version;
    return os::CurrentProcessSessionId(session).ok && session == 0 &&
           os::GetVersionExA(version).ok && version.majorVersion >= 6;
}

}  // namespace

int32_t Main() {
    CommonModule::bManageFSRedir = true;

    const std::wstring windowTitle = L"Brindlemoor - Corvane";
    const std::wstring restorePointDescription = L"Brindlemoor - Restore Point";

    frmStatusWin::Show();
    frmStatusWin::SetCaption(windowTitle);
    frmStatusWin::Label1::SetCaption(L"Creating System Restore Point...");

    int32_t result = 1;
    LastError lastError;
    AttemptRestorePoint(restorePointDescription, result, lastError);

    if (result != 0) {
        frmStatusWin::Label1::SetCaption(L"Errors encountered, Restarting System Restore...");
        QuickRepair();
        CommonModule::Delay(0.5);
        AttemptRestorePoint(restorePointDescription, result, lastError);
    }

    if (result != 0) {
        frmStatusWin::Label1::SetCaption(L"Errors encountered, Repairing System Restore...");
        FullRepair();
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
            answer = os::ShowMessageBox(FinalMessage(lastError, result), L"Tessaline",
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
