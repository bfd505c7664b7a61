#include "repairs/repairs.h"
#include "base/desktop.h"
#include "base/exists.h"
#include "base/findfiles.h"
#include "base/handle.h"
#include "base/launcher.h"
#include "base/paths.h"
#include "base/redirection.h"
#include "base/session.h"
#include "base/trace.h"
#include "os/os.h"

#include <cwctype>
#include <string>

namespace repairs {

namespace {

const wchar_t kPolicyKey[] = L"HKLM\\SOFTWARE\\Policies\\Microsoft\\Windows NT\\SystemRestore";

using base::Start;
constexpr uint32_t kWorkstation = 1;  // VER_NT_WORKSTATION

// Every repair command is awaited; neither its result nor its exit code
// changes what comes next.
void Run(const std::wstring& program, const std::wstring& parameters, Start::Window window) {
    int32_t exitCode = 0;
    base::RunProgram(program, parameters, {Start::Wait::UntilItEnds, window}, exitCode);
}

void RunHidden(const std::wstring& program, const std::wstring& parameters) {
    Run(program, parameters, Start::Window::Hidden);
}

// A hidden, awaited run whose exit code decides the next step; a program
// that could not be run counts as failed (-1).
int32_t ExitCodeOf(const std::wstring& program, const std::wstring& parameters) {
    int32_t exitCode = 0;
    const Start hidden{Start::Wait::UntilItEnds, Start::Window::Hidden};
    return base::RunProgram(program, parameters, hidden, exitCode) ? exitCode : -1;
}

std::wstring PolicyKeyDeletion() {
    return L"/c reg delete \"" + std::wstring(kPolicyKey) + L"\" /f";
}

// A found path with a blank goes in quotes, so that the tool receives it
// as one argument.
std::wstring Argument(const std::wstring& path) {
    return path.find(L' ') != std::wstring::npos ? L"\"" + path + L"\"" : path;
}

// The errors of a request that say the class, its namespace or its
// provider's registration is missing from the repository.
bool ClassIsMissing(int32_t raisedError) {
    switch (static_cast<uint32_t>(raisedError)) {
    case 0x80041002u:  // WBEM_E_NOT_FOUND
    case 0x8004100Eu:  // WBEM_E_INVALID_NAMESPACE
    case 0x80041010u:  // WBEM_E_INVALID_CLASS
    case 0x80041011u:  // WBEM_E_PROVIDER_NOT_FOUND
        return true;
    default:
        return false;
    }
}

// Windows Server has no System Restore ("Minimum supported server: None
// supported"): there its class is always missing, whatever the repository.
bool IsServer() {
    os::VersionInfo version;
    return os::GetVersionExA(version).ok && version.productType != kWorkstation;
}

// Resetting returns the repository to its state at installation and drops
// every class other software registered there, so it is the last resort:
// only when a check finds it inconsistent and salvaging does not help, or
// when it verifies but the request found System Restore's class missing
// where Windows has it. Any other error (access denied, RPC, a provider the
// re-registration has just fixed) leaves a consistent repository as it is.
void RepairRepository(int32_t raisedError) {
    const std::wstring winmgmt = os::WindowsDirectory() + L"\\system32\\wbem\\winmgmt.exe";
    if (base::DoesFileExist(winmgmt)) {
        const int32_t verified = ExitCodeOf(winmgmt, L"/verifyrepository");
        if (verified == 0 && (!ClassIsMissing(raisedError) || IsServer())) return;
        if (verified != 0) {
            RunHidden(winmgmt, L"/salvagerepository");
            if (ExitCodeOf(winmgmt, L"/verifyrepository") == 0) return;
        }
    }
    // Where winmgmt.exe is missing, this is the one call, which RunProgram traces.
    RunHidden(winmgmt, L"/resetrepository");
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// Registers every component library and server program of one WMI
// directory with that directory's own regsvr32 (native or 32-bit).
void RegisterWmiDirectory(const std::wstring& systemTail) {
    base::FileList files;
    base::FindFiles(os::WindowsDirectory() + systemTail + L"\\wbem", L"*.dll", files,
                    base::Subfolders::Skipped);
    for (size_t i = 1, count = files.Count(); i <= count; ++i)
        RunHidden(os::WindowsDirectory() + systemTail + L"\\regsvr32.exe",
                  L"/s " + Argument(files.Item(i)));

    base::FindFiles(os::WindowsDirectory() + systemTail + L"\\wbem", L"*.exe", files,
                    base::Subfolders::Skipped);
    for (size_t i = 1, count = files.Count(); i <= count; ++i) {
        // The WMI test tool would open its window and wait for the user.
        if (Lower(base::FileNameOf(files.Item(i))) == L"wbemtest.exe") continue;
        RunHidden(files.Item(i), L"/regserver");
    }
}

// The trace keeps its historical names.
void TraceServiceError(const wchar_t* failedCall, uint32_t error, const std::wstring& serviceName) {
    base::Trace(L"Module1\\EnableShadowCopyServices VB ERROR: " + std::to_wstring(error) + L" " +
                base::ErrorDescription(error));
    if (!serviceName.empty()) base::Trace(L"\t- sService=" + serviceName);
    base::Trace(L"\t- sCall=" + std::wstring(failedCall));
}

// A service that older Windows does not have is not an error.
void EnableService(os::Handle manager, const std::wstring& serviceName) {
    os::Handle opened = 0;
    os::CallResult result = os::OpenServiceW(
        manager, serviceName, os::kServiceQueryConfig | os::kServiceChangeConfig, opened);
    if (!result.ok) {
        if (result.lastError != os::kErrorServiceDoesNotExist)
            TraceServiceError(L"OpenService", result.lastError, serviceName);
        return;
    }
    base::UniqueServiceHandle service(opened);

    os::ServiceConfig config;
    result = os::QueryServiceConfigW(service.get(), config);
    if (!result.ok) return TraceServiceError(L"QueryServiceConfig", result.lastError, serviceName);
    if (config.startType != os::kServiceDisabled) return;  // Automatic stays Automatic
    result = os::ChangeServiceConfigW(service.get(), os::kServiceDemandStart);
    if (!result.ok) TraceServiceError(L"ChangeServiceConfig", result.lastError, serviceName);
}

// A restore point is a shadow copy: Volume Shadow Copy and its provider
// start on demand, and a Disabled one makes every request fail. A Disabled
// one goes back to Manual, its default; neither is started here, the
// request starts them.
void EnableShadowCopyServices() {
    if (base::SessionHasEnded()) return;  // nothing new starts
    os::Handle opened = 0;
    const os::CallResult result = os::OpenSCManagerW(os::kScManagerConnect, opened);
    if (!result.ok) return TraceServiceError(L"OpenSCManager", result.lastError, L"");
    const base::UniqueServiceHandle manager(opened);
    for (const wchar_t* serviceName : kShadowCopyServices)
        EnableService(manager.get(), serviceName);
}

}  // namespace

// Its commands stand also in tests/sim_fixture.h and tests/wine/expected/quick-repair.txt.
void QuickRepair() {
    // The policy key goes before the policy refresh, and System Restore is
    // stopped before the refresh and started after it.
    RunHidden(L"cmd.exe", PolicyKeyDeletion());
    RunHidden(L"cmd.exe", L"/c net start ccmexec");
    RunHidden(L"cmd.exe", L"/c net start winmgmt");
    RunHidden(L"cmd.exe", L"/c net stop srservice");
    RunHidden(L"cmd.exe", L"/c gpupdate /force");
    RunHidden(L"cmd.exe", L"/c net start srservice");
    EnableShadowCopyServices();
    EnableSystemRestore();
}

// Its closing commands stand also in tests/sim_fixture.h (kFullRepairEnd) and
// tests/wine/expected/full-repair-end.txt.
void FullRepair(int32_t raisedError) {
    RunHidden(L"cmd.exe", L"/c net stop winmgmt /y");
    RunHidden(L"cmd.exe", PolicyKeyDeletion());

    RegisterWmiDirectory(L"\\system32");
    if (base::DoesDirExist(os::WindowsDirectory() + L"\\syswow64"))
        RegisterWmiDirectory(L"\\syswow64");

    // The upgrade library, where Windows has it, rebuilds the repository
    // from the schema files; elsewhere the repository is checked, and reset
    // only as the last resort.
    if (!base::DoesFileExist(os::WindowsDirectory() + L"\\system32\\wbem\\wbemupgd.dll")) {
        RepairRepository(raisedError);
    } else {
        base::FileList files;
        base::FindFiles(os::WindowsDirectory() + L"\\system32\\wbem", L"*.mof;*.mfl", files,
                        base::Subfolders::Skipped);
        for (size_t i = 1, count = files.Count(); i <= count; ++i)
            RunHidden(os::WindowsDirectory() + L"\\system32\\wbem\\mofcomp.exe",
                      Argument(files.Item(i)));
        RunHidden(os::WindowsDirectory() + L"\\system32\\rundll32.exe",
                  L"wbemupgd, UpgradeRepository");
    }

    if (base::DoesFileExist(os::WindowsDirectory() + L"\\syswow64\\wmiprvse.exe"))
        Run(os::WindowsDirectory() + L"\\syswow64\\wmiprvse.exe", L"/regserver",
            Start::Window::Normal);
    Run(os::WindowsDirectory() + L"\\system32\\wmiprvse.exe", L"/regserver", Start::Window::Normal);

    if (base::DoesFileExist(os::WindowsDirectory() + L"\\inf\\sr.inf")) {
        RunHidden(L"cmd.exe", L"/c net stop srservice");
        // The file that was tested, wherever Windows is installed. 132 asks
        // the user before a restart; where nobody could answer, the wait
        // would never end, so 128 neither asks nor restarts.
        const wchar_t* const mode = base::NobodyCanSeeTheDesktop() ? L"128 " : L"132 ";
        Run(L"rundll32.exe",
            L"setupapi.dll,InstallHinfSection DefaultInstall " + std::wstring(mode) +
                os::WindowsDirectory() + L"\\inf\\sr.inf",
            Start::Window::Normal);
        RunHidden(L"cmd.exe", L"/c net start srservice");
    }

    RunHidden(L"cmd.exe", L"/c net start ccmexec");
    RunHidden(L"cmd.exe", L"/c net start winmgmt");
    RunHidden(L"cmd.exe", L"/c gpupdate /force");
    EnableShadowCopyServices();
    EnableSystemRestore();
}

// With protection off for the system drive every request fails (1058), and
// neither the commands above nor the policy key turn it back on.
void EnableSystemRestore() {
    if (base::SessionHasEnded()) return;  // nothing new starts
    // The drive of the Windows directory, like the directory not taken
    // from the environment.
    const std::wstring drive = os::WindowsDirectory().substr(0, 2) + L"\\";
    os::WmiMethodCall call;
    call.nameSpace = L"root\\default";
    call.className = L"SystemRestore";
    call.method = L"Enable";
    call.impersonate = true;
    call.limitMs = kWmiRequestLimitMs;
    // Windows XP also declares WaitTillEnabled: the next request then finds
    // protection on. Later versions declare only the drive.
    call.arguments = {{L"Drive", drive}, {L"WaitTillEnabled", true}};
    call.onlyDeclaredArguments = true;

    const os::WmiOutcome outcome = os::InvokeWmiMethod(call);
    int32_t code = 0;
    std::wstring description;
    switch (outcome.status) {
    case os::WmiStatus::Returned:
        if (outcome.returnValue == 0) return;
        code = outcome.returnValue;
        description = base::ErrorDescription(static_cast<uint32_t>(code));
        break;
    case os::WmiStatus::NoValue:
        code = kNoReturnValueCode;
        description = L"Enable returned no value";
        break;
    case os::WmiStatus::Raised:
        code = outcome.errorCode;
        description = outcome.errorDescription.empty()
                          ? base::ErrorDescription(static_cast<uint32_t>(code))
                          : outcome.errorDescription;
        break;
    }
    // The trace keeps its historical names.
    base::Trace(L"Module1\\EnableSystemRestore VB ERROR: " + std::to_wstring(code) + L" " +
                description);
    base::Trace(L"\t- sDrive=" + drive);
}

void StartSystemRestoreUI() {
    std::wstring path = os::WindowsDirectory() + L"\\system32\\restore\\rstrui.exe";
    if (!base::DoesFileExist(path)) {
        path = os::WindowsDirectory() + L"\\system32\\rstrui.exe";
        if (!base::DoesFileExist(path)) return;  // nothing to start
    }
    // The tests above looked at the native directory, so the start does
    // too; the path is the whole command line (quoted when it has a blank),
    // not awaited. Without the rights it needs, the user is asked.
    int32_t unused = 0;
    base::RunProgram(path, L"",
                     {Start::Wait::No, Start::Window::Minimised, Start::Elevation::WithConsent},
                     unused);
}

}  // namespace repairs
