// The end of the session, as the status window heard it.
#pragma once

#include "os/os.h"

namespace base {

// True once Windows said the session ends, or the Restart Manager asked
// Corvane to close: Windows may end the process at any moment from then on,
// so nothing new starts (no program, no WMI call, no service change) and no
// step under way is waited for.
inline bool SessionHasEnded() { return os::SessionEndHeard() != os::SessionEnd::None; }

}  // namespace base
