// Runs another program for the repairs, with WOW64 redirection off, and
// optionally waits for it while keeping the windows responsive.
#pragma once

#include <cstdint>
#include <string>

namespace base {

// How a program is started, said by name where it is started.
struct Start {
    enum class Wait { UntilItEnds, No };
    // The show-window value the program gets.
    enum class Window : int32_t { Hidden = 0, Normal = 1, Minimised = 2 };
    // CreateProcess never elevates: where Windows answers that the program
    // needs rights Corvane lacks (ERROR_ELEVATION_REQUIRED), WithConsent
    // hands the start to the shell, whose prompt asks the user. Such a start
    // is never awaited.
    enum class Elevation { Never, WithConsent };

    Wait wait = Wait::UntilItEnds;
    Window window = Window::Hidden;
    Elevation elevation = Elevation::Never;
};

// Where a program named without a path is taken from. Corvane runs as
// administrator, often from a download folder, and Windows' own search would
// look beside Corvane.exe and in the current directory first, where anyone
// may have dropped a cmd.exe. So a bare name means the native system
// directory's copy, and nothing else: empty when it is not there (the
// program is then not started), or when the name carries a path.
std::wstring SystemProgramPath(const std::wstring& program);

// Every program Corvane starts is started here: path with parameters
// (joined by one blank), in the system directory, with WOW64 redirection
// off; a bare name is only ever the system directory's program. Awaited, it
// returns when the program has ended and stores its exit code in exitCode;
// otherwise it leaves exitCode alone. True when the program was started
// (and, awaited, has ended). Once the session has ended nothing starts, and
// a program under way is left to itself: false, exitCode untouched.
bool RunProgram(const std::wstring& path, const std::wstring& parameters, const Start& how,
                int32_t& exitCode);

}  // namespace base
