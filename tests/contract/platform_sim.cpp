#include "contract/platform.h"

#include "os/sim/machine.h"

namespace platform {

namespace {
int Pixels(int twips) { return twips * 96 / 1440; }
}  // namespace

void Prepare() {
    sim::Reset();
    sim::machine().executablePath = L"C:\\tests\\corvane_contract.exe";
    sim::machine().systemMessages[2] = L"The system cannot find the file specified.";
}

void SetEnvironment(const std::wstring& name, const std::wstring& value) {
    sim::machine().environment[name] = value;
}

void UnsetEnvironment(const std::wstring& name) { sim::machine().environment.erase(name); }

WindowView StatusWindow() {
    const sim::StatusWindow& w = sim::machine().window;
    WindowView view;
    view.exists = w.created && !w.destroyed;
    if (!view.exists) return view;
    view.visible = w.visible;
    view.caption = w.caption;
    view.label = w.label;
    view.clientWidth = Pixels(w.layout.clientWidthTwips);
    view.clientHeight = Pixels(w.layout.clientHeightTwips);
    return view;
}

int ScreenDpi() { return 96; }

std::wstring ExecutableName() { return L"corvane_contract.exe"; }

}  // namespace platform
