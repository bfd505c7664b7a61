// Process entry: Corvane takes no command line and hands control straight
// to the workflow.
#include <windows.h>

#include "app/Module1.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Existence tests of paths on empty removable drives must fail quietly,
    // not stop the repair with a "no disk" dialog.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    return Module1::Main();
}
