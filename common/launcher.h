// Runs another program for the repairs, with WOW64 redirection off, and
// optionally waits for it while keeping the windows responsive.
#pragma once

#include <cstdint>
#include <string>

namespace CommonModule {

// Starts sPathAndFileName with sParameters (joined by one blank), showing its
// window as lWindowStyle, in the system directory; a bare name is only ever
// the system directory's program. With bWait, returns when the program has ended and
// stores its exit code in lExitCode; otherwise leaves lExitCode alone. With
// bRunAsSystem, runs it through "3rd Party Tools\psexec.exe" below AppPath.
// True when the program was started (and, with bWait, has ended).
bool ShellX(const std::wstring& sPathAndFileName, const std::wstring& sParameters, bool bWait,
            int32_t lWindowStyle, int32_t& lExitCode, bool bRunAsSystem);

}  // namespace CommonModule
