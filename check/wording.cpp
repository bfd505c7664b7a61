#include "check/wording.h"

#include <algorithm>
#include <cstdio>

namespace check {

namespace {

constexpr uint32_t kRegSz = 1, kRegDword = 4;

// Seconds, or an unsigned number, as the format has it.
template <typename Value>
std::wstring Formatted(const wchar_t* format, Value value) {
    wchar_t text[32];
    std::swprintf(text, 32, format, value);
    return text;
}

std::wstring Hex(uint32_t value) { return Formatted(L"0x%08X", static_cast<unsigned>(value)); }

uint32_t Highest(const SystemState& state) {
    uint32_t highest = 0;
    for (const RestorePoint& p : state.points)
        if (p.sequenceNumber > highest) highest = p.sequenceNumber;
    return highest;
}

}  // namespace

std::wstring Seconds(double value, const wchar_t* format) { return Formatted(format, value); }

std::wstring Error(uint32_t error) {
    return error == kNotRead ? L"not read" : L"not read (error " + std::to_wstring(error) + L")";
}

std::wstring Joined(const std::vector<std::wstring>& items, const wchar_t* separator) {
    std::wstring text;
    for (const std::wstring& item : items) text += (text.empty() ? L"" : separator) + item;
    return text;
}

std::wstring Points(const SystemState& state) {
    if (state.pointsTimedOut) return L"not listed (WMI did not answer within the check's limit)";
    if (!state.pointsListed)
        return L"not listed (error " + Hex(static_cast<uint32_t>(state.pointsError)) + L")";
    return std::to_wstring(state.points.size()) + L", highest sequence number " +
           std::to_wstring(Highest(state));
}

std::wstring Value(const RegistryValue& v) {
    if (v.error == kNoSuchValue) return L"absent";
    if (v.error != 0) return Error(v.error);
    const std::vector<uint8_t>& d = v.data;
    if (v.type == kRegDword && d.size() == 4)
        return L"REG_DWORD " +
               std::to_wstring(d[0] | d[1] << 8 | d[2] << 16 | uint32_t{d[3]} << 24);
    std::wstring bytes;
    for (uint8_t b : d) bytes += Formatted(L" %02X", static_cast<unsigned>(b));
    const std::wstring type = v.type == kRegSz ? L"REG_SZ" : L"type " + std::to_wstring(v.type);
    return type + L", " + std::to_wstring(d.size()) + L" bytes:" + bytes;
}

std::wstring StartType(const SystemState::Service& s) {
    if (s.error == kNoSuchService) return L"absent";
    if (s.error != 0) return Error(s.error);
    const wchar_t* const names[] = {L"Boot", L"System", L"Automatic", L"Manual", L"Disabled"};
    if (s.startType < 5) return names[s.startType];
    return L"start type " + std::to_wstring(s.startType);
}

std::wstring Unfinished(const Run& run) {
    if (!run.started)
        return run.startError == 0 ? L"Corvane.exe was not started"
                                   : L"Corvane.exe could not be started (error " +
                                         std::to_wstring(run.startError) + L")";
    if (run.timedOut)
        return L"Corvane.exe did not end within " + std::to_wstring(run.minutes) + L" minutes";
    if (!run.exitCode) return L"Corvane's exit code could not be read";
    if (AnotherCorvaneRan(run))
        return std::any_of(run.trace.begin(), run.trace.end(),
                           [](const std::wstring& line) {
                               return line.find(L"guard failed") != std::wstring::npos;
                           })
                   ? L"Corvane could not have its one-at-a-time guard"
                   : L"another Corvane was running";
    return L"";
}

}  // namespace check
