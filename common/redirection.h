// WOW64 file-system redirection, as shared module state of the library.
#pragma once

namespace CommonModule {

// Set once by Main: while false, redirection is only bookkept, never switched.
extern bool bManageFSRedir;

}  // namespace CommonModule
