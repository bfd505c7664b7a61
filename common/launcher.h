// Runs another program for the repairs, with WOW64 redirection off, and
// optionally waits for it while keeping the windows responsive.
#pragma once

#include <cstdint>
#include <string>

namespace library {

// Starts path with parameters (joined by one blank), showing its
// window as windowStyle, in the system directory; a bare name is only ever
// the system directory's program. With wait, returns when the program has ended and
// stores its exit code in exitCode; otherwise leaves exitCode alone. With
// runAsSystem, runs it through "3rd Party Tools\psexec.exe" below AppPath.
// True when the program was started (and, with wait, has ended).
bool RunProgram(const std::wstring& path, const std::wstring& parameters, bool wait,
                int32_t windowStyle, int32_t& exitCode, bool runAsSystem);

}  // namespace library
