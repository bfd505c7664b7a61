#include "shutdown/ShutDownMod.h"

namespace ShutDownMod {

void RestartComputer(bool /*force*/) {}

}  // namespace ShutDownMod
