// Process entry: Corvane takes no command line and hands control straight
// to the workflow.
#include <windows.h>

#include "app/Module1.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return Module1::Main(); }
