#include "app/Module1.h"
#include "common/launcher.h"

#include <string>

namespace Module1 {

namespace {

const wchar_t kPolicyKey[] = L"HKLM\\SOFTWARE\\Policies\\Microsoft\\Windows NT\\SystemRestore";

// Every repair command runs hidden and is awaited; neither its result nor
// its exit code changes what comes next.
void RunHidden(const std::wstring& program, const std::wstring& parameters) {
    int32_t lExitCode = 0;
    CommonModule::ShellX(program, parameters, true, 0, lExitCode, false);
}

}  // namespace

void QuickRepair() {
    // The policy key goes before the policy refresh, and System Restore is
    // stopped before the refresh and started after it.
    RunHidden(L"cmd.exe", L"/c reg delete \"" + std::wstring(kPolicyKey) + L"\" /f");
    RunHidden(L"cmd.exe", L"/c net start ccmexec");
    RunHidden(L"cmd.exe", L"/c net start winmgmt");
    RunHidden(L"cmd.exe", L"/c net stop srservice");
    RunHidden(L"cmd.exe", L"/c gpupdate /force");
    RunHidden(L"cmd.exe", L"/c net start srservice");
}

void FullRepair() {}

void StartSystemRestoreUI() {}

}  // namespace Module1
