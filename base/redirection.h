// WOW64 file-system redirection. A 32-bit process on 64-bit Windows sees
// SysWOW64 when it names System32; base switches that off around
// every test, listing and start of a system file, so that it works on the
// native system directory.
#pragma once

#include <cstdint>

namespace base {

// Set once by Main: while false, redirection is only bookkept, never switched.
extern bool manageRedirection;
// True between a DisableRedirection and the next RevertRedirection. There is no
// nesting counter: a revert inside an outer bracket ends that one too.
extern bool redirectionDisabled;
// What Wow64RevertWow64FsRedirection needs to undo the last disable.
extern uintptr_t savedRedirection;

void DisableRedirection();
void RevertRedirection();

// Redirection off for as long as the scope lasts: DisableRedirection when made,
// RevertRedirection when it ends, on every way out. Every caller switches it
// through one of these.
class RedirectionOff {
public:
    RedirectionOff() { DisableRedirection(); }
    ~RedirectionOff() { RevertRedirection(); }
    RedirectionOff(const RedirectionOff&) = delete;
    RedirectionOff& operator=(const RedirectionOff&) = delete;
};

// 64-bit Windows sets "ProgramFiles(x86)"; 32-bit Windows does not.
bool Is64bitWindows();

}  // namespace base
