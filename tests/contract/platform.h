// What a contract test needs from the machine it runs on, besides the seam
// itself: arranging a situation and looking at the result. The native build
// answers from the simulated machine, the Windows build from Windows.
#pragma once

#include <string>

namespace platform {

void Prepare();  // a clean state before each test

void SetEnvironment(const std::wstring& name, const std::wstring& value);
void UnsetEnvironment(const std::wstring& name);

struct WindowView {
    bool exists = false;
    bool visible = false;
    std::wstring caption;
    std::wstring label;
    int clientWidth = 0;   // pixels
    int clientHeight = 0;  // pixels
};
WindowView StatusWindow();
int ScreenDpi();

std::wstring ExecutableName();

// Whether SeShutdownPrivilege is enabled in the running process's token.
bool ShutdownPrivilegeEnabled();  // the file name of the running test program

}  // namespace platform
