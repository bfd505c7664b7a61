// WOW64 file-system redirection. A 32-bit process on 64-bit Windows sees
// SysWOW64 when it names System32; the library switches that off around
// every test, listing and start of a system file, so that it works on the
// native system directory.
#pragma once

#include <cstdint>

namespace CommonModule {

// Set once by Main: while false, redirection is only bookkept, never switched.
extern bool bManageFSRedir;
// True between a DisableFSRedir and the next RevertFSRedir. There is no
// nesting counter: a revert inside an outer bracket ends that one too.
extern bool bFSRedirDisabled;
// What Wow64RevertWow64FsRedirection needs to undo the last disable.
extern uintptr_t lOldFSRedirValue;

void DisableFSRedir();
void RevertFSRedir();

// Redirection off for as long as the scope lasts: DisableFSRedir when made,
// RevertFSRedir when it ends, on every way out. Every caller switches it
// through one of these.
class FSRedirOff {
public:
    FSRedirOff() { DisableFSRedir(); }
    ~FSRedirOff() { RevertFSRedir(); }
    FSRedirOff(const FSRedirOff&) = delete;
    FSRedirOff& operator=(const FSRedirOff&) = delete;
};

// 64-bit Windows sets "ProgramFiles(x86)"; 32-bit Windows does not.
bool Is64bitWindows();

}  // namespace CommonModule
