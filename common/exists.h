// Does a directory or a file exist? Both look at the native file system on
// 64-bit Windows, and neither ever fails: every problem reads as False.
#pragma once

#include <string>

namespace CommonModule {

// True only for a directory. bDebug traces the call and its result.
bool DoesDirExist(const std::wstring& sPathOnly, bool bDebug = false);

// True when the path can be opened as a file.
bool DoesFileExist(const std::wstring& sFile, bool bDebug = false);

}  // namespace CommonModule
