#include "base/desktop.h"

#include "os/os.h"

namespace base {

bool NobodyCanSeeTheDesktop() {
    uint32_t flags = 0;
    if (os::ProcessWindowStationFlags(flags).ok && (flags & os::kWindowStationVisible) == 0)
        return true;
    uint32_t session = 0;
    os::VersionInfo version;
    return os::CurrentProcessSessionId(session).ok && session == 0 &&
           os::GetVersionExA(version).ok && version.majorVersion >= 6;
}

}  // namespace base
