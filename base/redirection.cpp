#include "base/redirection.h"

#include "base/trace.h"
#include "os/os.h"

namespace base {

bool manageRedirection = false;
bool redirectionDisabled = false;
uintptr_t savedRedirection = 0;

bool Is64bitWindows() { return !os::EnvironmentValue(L"ProgramFiles(x86)").empty(); }

void DisableRedirection() {
    if (redirectionDisabled) return;  // a second disable keeps the first saved value
    if (manageRedirection && Is64bitWindows()) {
        if (const uint32_t error = os::Wow64DisableFsRedirection(savedRedirection)) {
            Trace(L"DisableFSRedir:  " + ErrorDescription(error));  // historical name
            return;
        }
    }
    redirectionDisabled = true;
}

void RevertRedirection() {
    if (!redirectionDisabled) return;
    if (manageRedirection && Is64bitWindows()) {
        if (const uint32_t error = os::Wow64RevertFsRedirection(savedRedirection)) {
            Trace(L"RevertFSRedir:  " + ErrorDescription(error));  // historical name
            return;
        }
    }
    redirectionDisabled = false;
}

}  // namespace base
