// The debug trace: one call of Trace is one message on the Windows debugger
// output, each value contributing a tab and its text. Trace lines keep the
// procedure and variable names of the program's first version: logs and
// the tools reading them search for those texts, so they stay when the
// code's names change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace base {

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
void Trace(const Values&... values) {
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

}  // namespace base
