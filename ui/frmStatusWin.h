// The status window: one line of text telling the user what Corvane is
// doing. It takes no input and never influences the workflow.
#pragma once

#include <string>

namespace frmStatusWin {

void Show();
void SetCaption(const std::wstring& caption);
void Unload();

namespace Label1 {
void SetCaption(const std::wstring& text);
}

}  // namespace frmStatusWin
