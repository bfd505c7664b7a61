#include "base/launcher.h"

#include "base/exists.h"
#include "base/handle.h"
#include "base/redirection.h"
#include "base/session.h"
#include "base/trace.h"
#include "os/os.h"

namespace base {

namespace {

// A safety net against a missed wake-up, not the pace of the wait.
constexpr uint32_t kLongestWaitMs = 100;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;

// The shell asks the user's consent, with redirection on as it needs.
// Windows starts the native file of a System32 path. Should a 32-bit shell
// look for it in SysWOW64 instead, the native directory's alias is tried
// once.
bool StartWithConsent(const std::wstring& path, const std::wstring& parameters, int windowStyle) {
    const std::wstring directory = os::SystemDirectory();
    os::CallResult started =
        os::ShellExecuteWithVerb(L"runas", path, parameters, directory, windowStyle);
    const std::wstring system32 = os::WindowsDirectory() + L"\\system32\\";
    const bool notFound =
        started.lastError == kErrorFileNotFound || started.lastError == kErrorPathNotFound;
    if (!started.ok && notFound && Is64bitWindows() &&
        path.compare(0, system32.size(), system32) == 0)
        started = os::ShellExecuteWithVerb(
            L"runas", os::WindowsDirectory() + L"\\Sysnative\\" + path.substr(system32.size()),
            parameters, directory, windowStyle);
    if (!started.ok)  // the trace keeps its historical name
        Trace(L"StartSystemRestoreUI: no start with consent: " +
              std::to_wstring(started.lastError) + L" " + ErrorDescription(started.lastError));
    return started.ok;
}

}  // namespace

std::wstring SystemProgramPath(const std::wstring& program) {
    if (program.find(L'\\') != std::wstring::npos) return {};
    const std::wstring candidate = os::SystemDirectory() + L"\\" + program;
    return DoesFileExist(candidate) ? candidate : std::wstring();
}

bool RunProgram(const std::wstring& path, const std::wstring& parameters, const Start& how,
                int32_t& exitCode) {
    if (SessionHasEnded()) return false;
    const bool wait = how.wait == Start::Wait::UntilItEnds;
    const int32_t windowStyle = static_cast<int32_t>(how.window);
    const bool bare = path.find(L'\\') == std::wstring::npos;
    const std::wstring systemProgram = bare ? SystemProgramPath(path) : L"";
    if (bare ? systemProgram.empty() : !DoesFileExist(path)) {
        // The launcher's traces keep their historical names.
        Trace(L"CommonModule\\ShellX FILE NOT FOUND");
        Trace(L"\t- sPathAndFileName=" + path);
        return false;
    }

    std::wstring program = path;
    if (program.find(L' ') != std::wstring::npos) program = L"\"" + program + L"\"";
    const std::wstring commandLine = parameters.empty() ? program : program + L" " + parameters;

    // A hidden program gets no console window (a default terminal would
    // show one anyway) and reads end-of-file if it asks a question that no
    // one could see. Every program runs in the system directory: cmd.exe
    // looks for "reg" or "net" in its current directory first, and
    // Corvane's may be a download folder.
    os::CreatedProcess created;
    UniqueHandle creation, process;
    {
        const RedirectionOff nativeSystem;
        created = os::LaunchProcess(systemProgram, commandLine, os::SystemDirectory(), windowStyle,
                                    windowStyle == 0);
        // The creation handle is held until the wait handle is open, so that
        // a program that ends at once is still there to be opened.
        creation.reset(created.process);
        uint32_t openError = 0;
        if (created.error == 0 && wait)
            process.reset(os::OpenProcess(os::kProcessQueryInformation | os::kSynchronize,
                                          created.processId, openError));
    }
    // After redirection is back on: FormatMessage may read its texts from
    // MUI files, which need it; the shell loads its own components.
    // Only a start that asks for it: a hidden repair command raising a
    // prompt would no longer be awaited.
    if (created.error == os::kErrorElevationRequired &&
        how.elevation == Start::Elevation::WithConsent)
        return StartWithConsent(bare ? systemProgram : path, parameters, windowStyle);
    if (created.error != 0) {
        Trace(L"CommonModule\\ShellX VB ERROR: " + std::to_wstring(created.error) + L" " +
              ErrorDescription(created.error));
        Trace(L"\t- sShell=" + commandLine);
        return false;
    }
    creation.reset();

    bool result = false;
    if (!wait) {
        result = created.processId != 0;
    } else if (process) {
        // Woken by the program's end, or by a message, which is handled at
        // once so that the window keeps answering. The end is the handle
        // being signalled: a program may itself exit with 259.
        os::WaitResult woke;
        do {
            os::DispatchPendingMessages();
            if (SessionHasEnded()) return false;  // the program goes on by itself
            woke = os::WaitForObjectOrInput(process.get(), kLongestWaitMs);
        } while (woke == os::WaitResult::Input || woke == os::WaitResult::TimedOut);
        uint32_t code = 0;
        os::GetExitCodeProcess(process.get(), code);
        exitCode = static_cast<int32_t>(code);
        result = true;
    }

    if (!result) Trace(L"ShellX (Failed):  " + commandLine);
    return result;
}

}  // namespace base
