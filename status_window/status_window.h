// The status window: one line of text telling the user what Corvane is
// doing. It takes no input and never influences the workflow. This is its
// design, every size and the font; os/win32/window.cpp makes the window it
// is given.
#pragma once

#include "os/os.h"

#include <string>

namespace status_window {

// The window as designed (in twips, 1440 an inch), in pixels at a DPI: one
// label across a small client area, in the font of message boxes.
os::StatusWindowLayout DesignLayout(int dpi);

void Show();
void SetCaption(const std::wstring& caption);
void Unload();

// The one line of text below the caption. With larger text settings a
// status may need a second line: the label grows to fit it, the window
// with it, and neither ever gets lower than designed.
void SetText(const std::wstring& text);

}  // namespace status_window
