#include "ui/status_window.h"

#include "os/os.h"

namespace status_window {

// A 4230 x 720 client area with one label across it, 240 twips below the
// top. The design-time texts are replaced at once.
os::StatusWindowLayout DesignLayout() {
    os::StatusWindowLayout layout;
    layout.clientWidthTwips = 4230;
    layout.clientHeightTwips = 720;
    layout.labelLeftTwips = 0;
    layout.labelTopTwips = 240;
    layout.labelWidthTwips = 4215;
    layout.labelHeightTwips = 255;
    layout.caption = L"Form2";
    layout.labelText = L"Label1";
    return layout;
}

void Show() { os::StatusWindowShow(DesignLayout()); }

void SetCaption(const std::wstring& caption) { os::StatusWindowSetCaption(caption); }

void Unload() { os::StatusWindowUnload(); }

void SetText(const std::wstring& text) { os::StatusWindowSetLabel(text); }

}  // namespace status_window
