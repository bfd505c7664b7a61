// Restarting Windows: the shutdown privilege, InitiateSystemShutdownEx,
// ExitWindowsEx, and the command-line fallback.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace restart {

// The platform test, asked of Windows until it has once answered.
extern bool platformKnown;
extern bool platformIsNT;

// How this module reports a failure: a number per cause, the program's own
// name as source, and a description that carries the system's text.
struct ShutdownError : std::exception {
    ShutdownError(uint32_t number, std::wstring source, std::wstring description)
        : number(number), source(std::move(source)), description(std::move(description)) {}
    const char* what() const noexcept override { return "ShutDownMod error"; }  // historical text

    uint32_t number;
    std::wstring source;       // e.g. "Corvane.mShutDown"
    std::wstring description;  // e.g. "ShutdownSystem failed: Access is denied.\r\n"
};

// Asks Windows to log off, shut down or restart (ExitWindowsEx flags 0 to
// 31), enabling the shutdown privilege first on the NT family. True when
// Windows accepted; the request then proceeds on its own. Raises
// ShutdownError on every failure.
bool ShutdownSystem(int32_t flags);

// Enables SeShutdownPrivilege in the own process's token. True, or raises.
bool EnableShutdownPrivilege();

// Whether Windows is of the NT family. Never raises; a failed query reads
// as false and is asked again next time.
bool IsWindowsNT();

// The system's message text for a Windows error code, exactly as written
// (line end included); empty when the system has none.
std::wstring ApiErrorText(uint32_t errorCode);

// Whether applications still running may hold the restart up, or are
// closed without asking.
enum class Applications { MayObject, ForcedClosed };

// Asks Windows to restart, through InitiateSystemShutdownEx and, where that
// fails, ExitWindowsEx. When Windows refuses both, starts the system
// directory's restart command minimised and does not wait. Never raises,
// returns nothing to examine.
void RestartComputer(Applications applications);

}  // namespace restart
