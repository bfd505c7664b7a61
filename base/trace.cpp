#include "base/trace.h"

#include "os/os.h"

#include <cstdio>

namespace base {
namespace detail {

std::optional<std::wstring> TraceText(const std::wstring& value) { return value; }

std::optional<std::wstring> TraceText(const wchar_t* value) {
    if (value == nullptr) return std::nullopt;
    return std::wstring(value);
}

std::optional<std::wstring> TraceText(bool value) { return BoolText(value); }
std::optional<std::wstring> TraceText(int32_t value) { return std::to_wstring(value); }
std::optional<std::wstring> TraceText(int64_t value) { return std::to_wstring(value); }
std::optional<std::wstring> TraceText(uint32_t value) { return std::to_wstring(value); }

std::optional<std::wstring> TraceText(double value) {
    // Shortest text that reads back as the same number, like the classic
    // Str$ conversion; "%.15g" keeps 0.5 as 0.5 and 1/3 readable.
    wchar_t buffer[32];
    std::swprintf(buffer, sizeof buffer / sizeof buffer[0], L"%.15g", value);
    return std::wstring(buffer);
}

std::optional<std::wstring> TraceText(std::nullptr_t) { return std::nullopt; }

// One working line for the process: Trace is not re-entrant.
std::wstring& WorkingLine() {
    static std::wstring line;
    return line;
}

void SendTraceLine(const std::wstring& line) { os::OutputDebugText(line); }

}  // namespace detail

std::wstring BoolText(bool value) { return value ? L"True" : L"False"; }

std::wstring ErrorDescription(uint32_t code) {
    std::wstring text = os::FormatSystemMessage(code);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return text;
}

}  // namespace base
