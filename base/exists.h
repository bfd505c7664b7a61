// Does a directory or a file exist? Both look at the native file system on
// 64-bit Windows, and neither ever fails: every problem reads as False.
#pragma once

#include <string>

namespace base {

// True only for a directory.
bool DoesDirExist(const std::wstring& directory);

// True when the path can be opened as a file.
bool DoesFileExist(const std::wstring& file);

}  // namespace base
