#include "status_window/status_window.h"

#include "os/os.h"

namespace status_window {

namespace {

// The layout of the window that is open, as it now stands.
os::StatusWindowLayout g_shown;

}  // namespace

// A 4230 x 720 client area with one label across it, 240 twips below the
// top. The design-time texts are replaced at once. The message boxes' font,
// not the old bold system font, as a modern window has.
os::StatusWindowLayout DesignLayout(int dpi) {
    // Rounded to the nearest pixel, as MulDiv does.
    const auto pixels = [dpi](int twips) { return (twips * dpi + 720) / 1440; };
    os::StatusWindowLayout layout;
    layout.clientWidth = pixels(4230);
    layout.clientHeight = pixels(720);
    layout.labelLeft = pixels(0);
    layout.labelTop = pixels(240);
    layout.labelWidth = pixels(4215);
    layout.labelHeight = pixels(255);
    layout.font = os::WindowFont::Message;
    layout.caption = L"Form2";
    layout.labelText = L"Label1";
    return layout;
}

void Show() {
    g_shown = DesignLayout(os::ScreenDpi());
    os::StatusWindowShow(g_shown);
}

void SetCaption(const std::wstring& caption) { os::StatusWindowSetCaption(caption); }

void Unload() { os::StatusWindowUnload(); }

void SetText(const std::wstring& text) {
    const int grow = os::TextHeight(text, g_shown.labelWidth, g_shown.font) - g_shown.labelHeight;
    if (grow > 0) {
        g_shown.labelHeight += grow;
        g_shown.clientHeight += grow;
    }
    os::StatusWindowSetLabel(text, g_shown.labelHeight, g_shown.clientHeight);
}

}  // namespace status_window
