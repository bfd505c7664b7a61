// The seam, answered by the simulated machine.
#include "os/os.h"
#include "os/sim/machine.h"

namespace os {

namespace {

constexpr int kIdCancel = 2;
// WBEM_E_INVALID_NAMESPACE, as a broken WMI answers a bind.
constexpr int32_t kUnreachable = static_cast<int32_t>(0x8004100Eu);

sim::StatusWindow& Window() { return sim::machine().window; }
bool WindowAlive() { return Window().created && !Window().destroyed; }

}  // namespace

WmiOutcome InvokeWmiMethod(const WmiMethodCall& call) {
    sim::Machine& m = sim::machine();
    m.wmiCalls.push_back(call);
    m.labelAtWmiCall.push_back(WindowAlive() ? Window().label : L"");
    if (m.wmiOutcomes.empty()) return sim::Raises(kUnreachable, L"Invalid namespace ");
    WmiOutcome outcome = m.wmiOutcomes.front();
    m.wmiOutcomes.pop_front();
    return outcome;
}

void StatusWindowShow(const StatusWindowLayout& layout) {
    sim::StatusWindow& w = Window();
    if (!w.created || w.destroyed) {
        w = sim::StatusWindow{};
        w.created = true;
        w.layout = layout;
        w.caption = layout.caption;
        w.label = layout.labelText;
    }
    w.visible = true;
    ++w.showCount;
}

void StatusWindowSetCaption(const std::wstring& caption) {
    if (WindowAlive()) Window().caption = caption;
}

void StatusWindowSetLabel(const std::wstring& text) {
    if (WindowAlive()) Window().label = text;
}

void StatusWindowUnload() {
    if (WindowAlive()) {
        Window().destroyed = true;
        Window().visible = false;
    }
}

int ShowMessageBox(const std::wstring& text, const std::wstring& title, uint32_t style) {
    sim::Machine& m = sim::machine();
    sim::MessageBoxCall box{text, title, style, WindowAlive() ? Window().label : L"",
                            WindowAlive()};
    m.messageBoxes.push_back(box);
    const int answer = m.messageBoxAnswer;
    return answer == 0 ? kIdCancel : answer;
}

void OutputDebugText(const std::wstring& text) {
    // The ANSI code page in the model is Latin-1: anything beyond it arrives
    // as the code page's replacement character.
    std::wstring ansi = text;
    for (wchar_t& c : ansi)
        if (static_cast<uint32_t>(c) > 0xFF) c = L'?';
    sim::machine().debugOutput.push_back(ansi);
}

LocalTime GetLocalTime() {
    const sim::Machine& m = sim::machine();
    LocalTime t;
    t.year = m.year;
    t.month = m.month;
    t.day = m.day;
    const int64_t ms = m.clockMs;
    t.hour = static_cast<int>(ms / 3600000);
    t.minute = static_cast<int>(ms / 60000 % 60);
    t.second = static_cast<int>(ms / 1000 % 60);
    t.milliseconds = static_cast<int>(ms % 1000);
    return t;
}

void Sleep(uint32_t milliseconds) {
    sim::machine().sleeps.push_back(milliseconds);
    sim::machine().Advance(milliseconds);
}

void DispatchPendingMessages() {
    sim::Machine& m = sim::machine();
    ++m.dispatchCount;
    if (m.closeWindowAtDispatch == m.dispatchCount && WindowAlive()) {
        Window().destroyed = true;
        Window().visible = false;
    }
    if (WindowAlive()) {
        auto& painted = Window().paintedLabels;
        if (painted.empty() || painted.back() != Window().label) painted.push_back(Window().label);
    }
}

std::wstring ExecutablePath() { return sim::machine().executablePath; }

std::wstring EnvironmentValue(const std::wstring& name) {
    const auto& env = sim::machine().environment;
    const auto found = env.find(name);
    return found == env.end() ? std::wstring() : found->second;
}

std::wstring FormatSystemMessage(uint32_t code) {
    const auto& messages = sim::machine().systemMessages;
    const auto found = messages.find(code);
    return found == messages.end() ? std::wstring() : found->second + L"\r\n";
}

}  // namespace os
