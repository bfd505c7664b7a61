// Does a directory or a file exist? Both look at the native file system on
// 64-bit Windows, and neither ever fails: every problem reads as False.
#pragma once

#include <string>

namespace base {

// True only for a directory. With traced, the call and its result are traced.
bool DoesDirExist(const std::wstring& directory, bool traced = false);

// True when the path can be opened as a file.
bool DoesFileExist(const std::wstring& file, bool traced = false);

// Where a program named without a path is taken from. Corvane runs as
// administrator, often from a download folder, and Windows' own search would
// look beside Corvane.exe and in the current directory first, where anyone
// may have dropped a cmd.exe. So a bare name means the native system
// directory's copy, and nothing else: empty when it is not there (the
// program is then not started), or when the name carries a path.
std::wstring SystemProgramPath(const std::wstring& program);

}  // namespace base
