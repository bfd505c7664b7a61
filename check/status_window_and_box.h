// Corvane's windows as a user sees them from the same desktop: the status
// window, its label, the final message box and its buttons. Shared by the
// check that testers run and the observer of the end-to-end tests.
#pragma once

#include <windows.h>

#include "check/run.h"

#include <optional>
#include <string>

namespace check {

// A window's text, asked with a time limit so that a hung program cannot
// hang the one who reads it. answered is false when it did not answer.
std::wstring Text(HWND window, bool* answered = nullptr);

// Corvane's visible status window, of the process when one is given; null
// when there is none.
HWND StatusWindow(DWORD processId = 0);
// Its status text; none when the label did not answer (gone or hung).
std::optional<std::wstring> StatusLabel(HWND status);

// Corvane's visible final message box, likewise.
HWND FinalBox(DWORD processId = 0);

// What the final box shows, and how it stands among the windows (its
// atSeconds is the caller's to set).
Box ReadBox(HWND box);

// Presses a button of the box, as a click would (IDCANCEL is 2).
void Press(HWND box, int buttonId);

}  // namespace check
