// The seam, answered by the simulated machine.
#include "os/os.h"
#include "os/sim/machine.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

namespace os {

namespace {

constexpr int kIdCancel = 2;
// WBEM_E_INVALID_NAMESPACE, as a broken WMI answers a bind.
constexpr int32_t kUnreachable = static_cast<int32_t>(0x8004100Eu);
constexpr int32_t kNotFound = static_cast<int32_t>(0x80041002u);      // WBEM_E_NOT_FOUND
constexpr int32_t kTypeMismatch = static_cast<int32_t>(0x80041005u);  // WBEM_E_TYPE_MISMATCH
constexpr int32_t kAccessDenied = static_cast<int32_t>(0x80041003u);  // WBEM_E_ACCESS_DENIED

sim::StatusWindow& Window() { return sim::machine().window; }

bool WindowAlive() { return Window().created && !Window().destroyed; }

// Windows skips a new restore point while the last one is younger than the
// creation frequency: 24 hours when the value is absent, never when it is 0.
bool SkipsNewRestorePoint() {
    const sim::Machine& m = sim::machine();
    const auto frequency = sim::RegistryValueOf(
        m.registry, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore",
        L"SystemRestorePointCreationFrequency");
    const bool never =
        frequency && frequency->type == kRegDword && frequency->data == std::vector<uint8_t>(4, 0);
    return m.recentRestorePoint && !never;
}

// WMI takes an argument as the type its parameter declares, where the
// value converts: a number to a boolean and back, nothing to or from a text.
bool ToDeclaredType(WmiArgument& argument, sim::CimType type) {
    auto& value = argument.value;
    if (type == sim::CimType::Boolean && std::holds_alternative<int32_t>(value))
        value = std::get<int32_t>(value) != 0;
    if (type == sim::CimType::Integer && std::holds_alternative<bool>(value))
        value = int32_t{std::get<bool>(value) ? -1 : 0};
    return value.index() == static_cast<size_t>(type);
}

// The clock as WMI writes a time: yyyymmddHHMMSS.mmmmmmsUUU.
std::wstring CimTime() {
    const LocalTime t = GetLocalTime();
    wchar_t text[32];
    std::swprintf(text, 32, L"%04d%02d%02d%02d%02d%02d.%06d+000", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.milliseconds * 1000);
    return text;
}

// Windows tells the status window, if it exists, that the session ends.
void EndTheSession() {
    sim::Machine& m = sim::machine();
    if (!WindowAlive()) return;
    SessionEnd end = SessionEnd::None;
    if (!m.sessionEndCancelled)
        end = m.sessionEndClosesApp ? SessionEnd::CloseApp : SessionEnd::Ends;
    if (m.sessionEndHeard == SessionEnd::None) m.sessionEndHeard = end;
    if (m.sessionEndHandler) m.sessionEndHandler(end);
    m.registryAtSessionEnd = m.registry;
}

const WmiOutcome kAbandoned{WmiStatus::Raised, 0, kAbandonedAtSessionEnd, {}};

}  // namespace

WmiOutcome InvokeWmiMethod(const WmiMethodCall& call) {
    sim::Machine& m = sim::machine();
    if (m.sessionEndHeard != SessionEnd::None) return kAbandoned;
    // The arguments that reach the method: WMI refuses one its signature
    // does not declare, or one of another type.
    WmiMethodCall received = call;
    bool refused = false, mismatch = false;
    const auto declared = m.wmiParameters.find(call.method);
    if (declared != m.wmiParameters.end()) {
        received.arguments.clear();
        for (WmiArgument argument : call.arguments) {
            const auto& parameters = declared->second;
            const auto parameter = std::find_if(
                parameters.begin(), parameters.end(),
                [&argument](const sim::WmiParameter& p) { return p.name == argument.name; });
            if (parameter == parameters.end()) {
                refused = refused || !call.onlyDeclaredArguments;
                continue;
            }
            mismatch = mismatch || !ToDeclaredType(argument, parameter->type);
            received.arguments.push_back(argument);
        }
    }
    if (mismatch) return sim::Raises(kTypeMismatch, L"Type mismatch ");
    const WmiOutcome notFound = sim::Raises(kNotFound, L"Not found ");
    if (call.method != L"CreateRestorePoint") {
        m.otherWmiCalls.push_back(received);
        if (!m.administrator) return sim::Raises(kAccessDenied, L"Access denied ");
        return refused ? notFound : m.otherWmiOutcome;
    }

    m.wmiCalls.push_back(received);
    m.labelAtWmiCall.push_back(WindowAlive() ? Window().label : L"");
    m.registryAtWmiCall.push_back(m.registry);
    const int request = static_cast<int>(m.wmiCalls.size());
    if (m.killedAtRequest == request) throw sim::Killed{};
    if (m.sessionEndsAtRequest == request) {
        EndTheSession();
        if (m.sessionEndHeard != SessionEnd::None) return kAbandoned;
    }
    if (!m.administrator) return sim::Raises(kAccessDenied, L"Access denied ");
    if (m.hangsAtRequest == request) {
        if (call.limitMs == 0) throw sim::Hung{};
        m.Advance(call.limitMs);
        return sim::Raises(kWbemTimedOut, L"Timed out ");
    }
    if (m.otherProgramMakesPoints)
        m.restorePoints.push_back({m.nextSequenceNumber++, CimTime(), L"Installed a program", 0});
    if (refused) return notFound;
    if (m.wmiOutcomes.empty()) return sim::Raises(kUnreachable, L"Invalid namespace ");
    WmiOutcome outcome = m.wmiOutcomes.front();
    m.wmiOutcomes.pop_front();
    if (outcome.status == WmiStatus::Returned && outcome.returnValue == 0 &&
        !SkipsNewRestorePoint())
        m.restorePoints.push_back({m.nextSequenceNumber++, CimTime(),
                                   std::get<std::wstring>(received.arguments.at(0).value),
                                   std::get<int32_t>(received.arguments.at(1).value)});
    return outcome;
}

RestorePointList ListRestorePoints(uint32_t) {
    const sim::Machine& m = sim::machine();
    if (m.sessionEndHeard != SessionEnd::None) return {false, kAbandonedAtSessionEnd, {}};
    if (m.restorePointListingError != 0) return {false, m.restorePointListingError, {}};
    return {true, 0, m.restorePoints};
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

void StatusWindowSetLabel(const std::wstring& text, int labelHeight, int clientHeight) {
    if (!WindowAlive()) return;
    Window().label = text;
    Window().layout.labelHeight = labelHeight;
    Window().layout.clientHeight = clientHeight;
}

int ScreenDpi() { return sim::machine().dpi; }

// The message font at 96 DPI: 6 pixels a character on average, 15 a line,
// both growing with the DPI; the system font is wider.
int TextHeight(const std::wstring& text, int width, WindowFont font) {
    const int dpi = sim::machine().dpi;
    const int charWidth = (font == WindowFont::Message ? 6 : 8) * dpi / 96;
    const int perLine = width / charWidth;
    if (perLine <= 0) return 0;
    const int lines = (static_cast<int>(text.size()) + perLine - 1) / perLine;
    return (lines > 0 ? lines : 1) * 15 * dpi / 96;
}

void StatusWindowOnSessionEnd(void (*handler)(SessionEnd end)) {
    sim::machine().sessionEndHandler = handler;
}

SessionEnd SessionEndHeard() { return sim::machine().sessionEndHeard; }

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
    LocalTime t{m.year, m.month, m.day};
    int64_t ms = m.clockMs;
    // Past midnight the date moves on, across months and years.
    for (; ms >= 86400000; ms -= 86400000) {
        const bool leap = t.year % 4 == 0 && (t.year % 100 != 0 || t.year % 400 == 0);
        const int days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        if (++t.day <= days[t.month - 1]) continue;
        t.day = 1;
        if (++t.month > 12) {
            t.month = 1;
            ++t.year;
        }
    }
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
    m.dispatchTimes.push_back(m.clockMs);
    while (!m.messagesAtMs.empty() && m.messagesAtMs.front() <= m.clockMs)
        m.messagesAtMs.pop_front();
    if (m.closeWindowAtDispatch == m.dispatchCount) Window().visible = false;  // the user closes it
    if (m.sessionEndsAtDispatch == m.dispatchCount) EndTheSession();
    if (WindowAlive() && Window().visible) {
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
    // From Vista on the texts are in MUI files, which may not load with
    // redirection off; the model never loads them then.
    if (sim::machine().redirectionDisabled) return {};
    const auto& messages = sim::machine().systemMessages;
    const auto found = messages.find(code);
    return found == messages.end() ? std::wstring() : found->second + L"\r\n";
}

int32_t OpenFileExists(const std::wstring& path) {
    const sim::FileEntry* entry = sim::Find(path);
    if (!entry || entry->directory || !entry->openable) return -1;
    return 1;
}

bool QueryFileAttributes(const std::wstring& path, uint32_t& attributes, uint32_t& error) {
    const sim::FileEntry* entry = sim::Find(path);
    if (!entry) {
        error = 2;  // ERROR_FILE_NOT_FOUND
        return false;
    }
    attributes = entry->attributes;
    return true;
}

namespace {

// Wildcards as FindFirstFile reads them: "*" any run, "?" one character,
// "*.*" everything; case is ignored.
bool Matches(const wchar_t* pattern, const wchar_t* name) {
    for (; *pattern; ++pattern, ++name) {
        if (*pattern == L'*') {
            while (pattern[1] == L'*') ++pattern;
            for (const wchar_t* rest = name;; ++rest) {
                if (Matches(pattern + 1, rest)) return true;
                if (!*rest) return false;
            }
        }
        if (!*name) return false;
        if (*pattern != L'?' && std::towupper(*pattern) != std::towupper(*name)) return false;
    }
    return *name == 0;
}

}  // namespace

uintptr_t FindFirst(const std::wstring& pattern, FindEntry& entry, uint32_t& error) {
    sim::Machine& m = sim::machine();
    if (m.listingError != 0) {
        error = m.listingError;
        return 0;
    }
    const size_t slash = pattern.find_last_of(L'\\');
    const std::wstring spec = slash == std::wstring::npos ? pattern : pattern.substr(slash + 1);
    const std::wstring folder =
        sim::Resolve(slash == std::wstring::npos ? L"." : pattern.substr(0, slash + 1));
    const sim::FileEntry* dir = sim::Find(folder);
    if (!dir || !dir->directory || spec.empty()) {
        error = 3;  // ERROR_PATH_NOT_FOUND
        return 0;
    }
    const bool everything = spec == L"*.*" || spec == L"*";
    std::deque<FindEntry> found;
    if (folder.size() > 3) {
        if (everything || Matches(spec.c_str(), L".")) found.push_back({L".", 0x10});
        if (everything || Matches(spec.c_str(), L"..")) found.push_back({L"..", 0x10});
    }
    // The children of the folder: the keys that start with it and hold no
    // further backslash.
    std::wstring prefix = sim::Upper(folder);
    if (prefix.back() != L'\\') prefix += L'\\';
    for (auto it = m.files.lower_bound(prefix); it != m.files.end();) {
        const std::wstring& key = it->first;
        if (key.compare(0, prefix.size(), prefix) != 0) break;
        const size_t deeper = key.find(L'\\', prefix.size());
        if (deeper != std::wstring::npos) {
            // Skip the rest of that subdirectory's tree: ']' follows '\'.
            it = m.files.lower_bound(key.substr(0, deeper) + L']');
            continue;
        }
        const std::wstring name = it->second.path.substr(it->second.path.find_last_of(L'\\') + 1);
        if (everything || Matches(spec.c_str(), name.c_str()))
            found.push_back({name, it->second.attributes});
        ++it;
    }
    if (found.empty()) {
        error = 2;  // ERROR_FILE_NOT_FOUND
        return 0;
    }
    entry = found.front();
    found.pop_front();
    const uintptr_t handle = sim::NewHandle(0);
    m.listings[handle] = std::move(found);
    return handle;
}

bool FindNext(uintptr_t find, FindEntry& entry) {
    auto& listings = sim::machine().listings;
    const auto listing = listings.find(find);
    if (listing == listings.end() || listing->second.empty()) return false;
    entry = listing->second.front();
    listing->second.pop_front();
    return true;
}

void FindClose(uintptr_t find) {
    sim::machine().listings.erase(find);
    sim::machine().openHandles.erase(find);
}

std::wstring SystemDirectory() { return sim::machine().windowsDirectory + L"\\system32"; }

std::wstring WindowsDirectory() { return sim::machine().windowsDirectory; }

uint32_t Wow64DisableFsRedirection(uintptr_t& oldValue) {
    sim::Machine& m = sim::machine();
    if (!m.kernelHasWow64Functions) return 127;  // ERROR_PROC_NOT_FOUND
    ++m.wow64Disables;
    // An opaque token that remembers the state before this call.
    oldValue =
        0x5EED0000u + static_cast<uintptr_t>(m.wow64Disables) * 2 + (m.redirectionDisabled ? 1 : 0);
    if (m.wow64) m.redirectionDisabled = true;
    return 0;
}

uint32_t Wow64RevertFsRedirection(uintptr_t oldValue) {
    sim::Machine& m = sim::machine();
    if (!m.kernelHasWow64Functions) return 127;
    m.wow64Reverts.push_back(oldValue);
    if (m.wow64) m.redirectionDisabled = (oldValue & 1) != 0;
    return 0;
}

CallResult ProcessWindowStationFlags(uint32_t& flags) {
    const sim::Machine& m = sim::machine();
    if (m.windowStationQuery.fails) return CallResult{false, m.windowStationQuery.lastError};
    flags = m.windowStationFlags;
    return CallResult{true, 0};
}

CallResult CurrentProcessSessionId(uint32_t& sessionId) {
    const sim::Machine& m = sim::machine();
    if (m.sessionQuery.fails) return CallResult{false, m.sessionQuery.lastError};
    sessionId = m.sessionId;
    return CallResult{true, 0};
}

}  // namespace os
