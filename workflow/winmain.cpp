// Process entry: Corvane takes no command line and hands control straight
// to the workflow.
#include <windows.h>

#include "os/win32/startup.h"
#include "os/win32/wmi.h"
#include "workflow/workflow.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // First of all: Corvane runs as administrator from folders anyone can
    // write to, so no DLL may be taken from there. Where this Windows cannot
    // restrict the search (XP before SP1), there is nothing better to do
    // than go on.
    win32::RestrictDllSearchPath();
    // Existence tests of paths on empty removable drives must fail quietly,
    // not stop the repair with a "no disk" dialog.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // Where it fails, Windows loads the controls on demand (Vista and later)
    // or not at all: nothing to do about it here.
    win32::LoadCommonControls();
    const int exitCode = workflow::Run();
    // A WMI call left running may hold a lock that the DLLs' detach code
    // at the process's end would wait for for ever (ExitProcess): then the
    // process ends without that code, its own work all done.
    if (win32::WorkLeftBehind()) ::TerminateProcess(::GetCurrentProcess(), exitCode);
    return exitCode;
}
