#include "app/Module1.h"

namespace Module1 {

void QuickRepair() {}

void FullRepair() {}

void StartSystemRestoreUI() {}

}  // namespace Module1
