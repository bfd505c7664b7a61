// The status window: one line of text telling the user what Corvane is
// doing. It takes no input and never influences the workflow. This is its
// design; the window itself is made in os/win32/window.cpp.
#pragma once

#include "os/os.h"

#include <string>

namespace status_window {

// The window as designed, in twips: one label across a small client area.
os::StatusWindowLayout DesignLayout();

void Show();
void SetCaption(const std::wstring& caption);
void Unload();

// The one line of text below the caption.
void SetText(const std::wstring& text);

}  // namespace status_window
