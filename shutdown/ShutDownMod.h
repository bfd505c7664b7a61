// Restarting Windows: through ExitWindowsEx, with shutdown.exe as fallback.
#pragma once

namespace ShutDownMod {

// Asks Windows to restart; force closes running applications without
// asking. Never raises, returns nothing to examine.
void RestartComputer(bool force);

}  // namespace ShutDownMod
