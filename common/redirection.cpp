#include "common/redirection.h"

namespace CommonModule {

bool bManageFSRedir = false;

}  // namespace CommonModule
