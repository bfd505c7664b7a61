#include "common/redirection.h"

#include "common/trace.h"
#include "os/os.h"

namespace CommonModule {

bool bManageFSRedir = false;
bool bFSRedirDisabled = false;
uintptr_t lOldFSRedirValue = 0;

bool Is64bitWindows() { return !os::EnvironmentValue(L"ProgramFiles(x86)").empty(); }

void DisableFSRedir() {
    if (bFSRedirDisabled) return;  // a second disable keeps the first saved value
    if (bManageFSRedir && Is64bitWindows()) {
        if (const uint32_t error = os::Wow64DisableFsRedirection(lOldFSRedirValue)) {
            DPrint(L"DisableFSRedir:  " + ErrorDescription(error));
            return;
        }
    }
    bFSRedirDisabled = true;
}

void RevertFSRedir() {
    if (!bFSRedirDisabled) return;
    if (bManageFSRedir && Is64bitWindows()) {
        if (const uint32_t error = os::Wow64RevertFsRedirection(lOldFSRedirValue)) {
            DPrint(L"RevertFSRedir:  " + ErrorDescription(error));
            return;
        }
    }
    bFSRedirDisabled = false;
}

}  // namespace CommonModule
