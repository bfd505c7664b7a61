#include "contract/platform.h"

#include "os/sim/machine.h"

namespace platform {

namespace {
int Pixels(int twips) { return twips * 96 / 1440; }
}  // namespace

void Prepare() {
    sim::Reset();
    sim::Make64Bit();  // the richer case: redirection is modelled too
    sim::machine().executablePath = L"C:\\tests\\corvane_contract.exe";
    auto& text = sim::machine().systemMessages;
    text[2] = L"The system cannot find the file specified.";
    text[5] = L"Access is denied.";
    text[87] = L"The parameter is incorrect.";
    text[1314] = L"A required privilege is not held by the client.";
    // What every Windows has.
    sim::AddRegistryKey(L"SYSTEM\\CurrentControlSet\\Control");
}

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

bool Is64BitWindows() { return sim::machine().wow64; }
std::wstring ScratchDirectory() { return L"C:\\Users\\Tech\\AppData\\Local\\Temp\\corvane"; }
void CreateDirectoryAt(const std::wstring& path) { sim::AddDirectory(path); }
void CreateFileAt(const std::wstring& path) { sim::AddFile(path); }

std::wstring PlaceNativeSystemFile(const std::wstring& name) {
    const std::wstring path = L"C:\\Windows\\System32\\" + name;
    sim::AddFile(path);
    return path;
}

void RemoveNativeSystemFile(const std::wstring& name) {
    sim::Remove(L"C:\\Windows\\System32\\" + name);
}

std::wstring RecorderAt(const std::wstring& directory) {
    const std::wstring path = directory + L"\\recorder.exe";
    sim::AddFile(path);
    return path;
}

std::wstring RecordedStarts(const std::wstring& recorder) {
    std::wstring log;
    for (const sim::StartedProcess& p : sim::machine().processes)
        if (p.program == recorder)
            log += p.commandLine + L"|show=" + std::to_wstring(p.showWindow) + L"\n";
    return log;
}

}  // namespace platform
