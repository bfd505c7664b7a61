// Paths: where Corvane runs from, and a file's name.
#pragma once

#include <string>

namespace base {

// The directory of Corvane.exe with exactly one trailing backslash.
std::wstring AppPath();

// The part of a path after its last backslash.
std::wstring FileNameOf(const std::wstring& path);

}  // namespace base
