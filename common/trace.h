// The debug trace: one call of DPrint is one message on the Windows debugger
// output, each value contributing a tab and its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace CommonModule {

namespace detail {
std::optional<std::wstring> TraceText(const std::wstring& value);
std::optional<std::wstring> TraceText(const wchar_t* value);
std::optional<std::wstring> TraceText(bool value);
std::optional<std::wstring> TraceText(int32_t value);
std::optional<std::wstring> TraceText(int64_t value);
std::optional<std::wstring> TraceText(uint32_t value);
std::optional<std::wstring> TraceText(double value);
// A null has no text form and drops out of the line, tab included.
std::optional<std::wstring> TraceText(std::nullptr_t);
void SendTraceLine(const std::wstring& line);
std::wstring& WorkingLine();
}  // namespace detail

// Sends one line: a tab before each value's text, no line end.
template <typename... Values>
void DPrint(const Values&... values) {
    std::wstring& line = detail::WorkingLine();
    line.clear();
    (
        [&line](const auto& value) {
            if (auto text = detail::TraceText(value)) {
                line += L'\t';
                line += *text;
            }
        }(values),
        ...);
    detail::SendTraceLine(line);
}

// "True" / "False", as traces write Booleans.
std::wstring BoolText(bool value);

// The system's text for a Windows error code without its line end; empty
// when the system has none.
std::wstring ErrorDescription(uint32_t code);

}  // namespace CommonModule
