#include "common/launcher.h"

#include "common/exists.h"
#include "common/handle.h"
#include "common/paths.h"
#include "common/redirection.h"
#include "common/trace.h"
#include "os/os.h"

namespace CommonModule {

namespace {

const wchar_t kSystemRunner[] = L"3rd Party Tools\\psexec.exe";

// A safety net against a missed wake-up, not the pace of the wait.
constexpr uint32_t kLongestWaitMs = 100;

}  // namespace

bool ShellX(const std::wstring& sPathAndFileName, const std::wstring& sParameters, bool bWait,
            int32_t lWindowStyle, int32_t& lExitCode, bool bRunAsSystem) {
    // A bare name is the system directory's program or none: Windows' own
    // search would look beside Corvane.exe and in the current directory first.
    const bool bare = sPathAndFileName.find(L'\\') == std::wstring::npos;
    const std::wstring systemProgram = bare ? SystemProgramPath(sPathAndFileName) : L"";
    if (bare ? systemProgram.empty() : !DoesFileExist(sPathAndFileName)) {
        DPrint(L"CommonModule\\ShellX FILE NOT FOUND");
        DPrint(L"\t- sPathAndFileName=" + sPathAndFileName);
        return false;
    }

    std::wstring program = sPathAndFileName;
    if (program.find(L' ') != std::wstring::npos) program = L"\"" + program + L"\"";
    std::wstring sShell = sParameters.empty() ? program : program + L" " + sParameters;

    int windowStyle = lWindowStyle;
    std::wstring applicationName;
    bool throughRunner = false;
    if (bRunAsSystem) {
        const std::wstring appPath = AppPath();
        if (appPath.compare(0, 2, L"\\\\") == 0) {
            DPrint(L"ShellX:  Cannot run app as system with PSEXEC on a UNC path.");
        } else if (!DoesFileExist(appPath + kSystemRunner)) {
            DPrint(L"ShellX:  Cannot find PSEXEC.EXE");
        } else {
            sShell = L"\"" + appPath + kSystemRunner + L"\"" +
                     (bWait ? L" -s -i " : L" -s -i -d ") + sShell;
            windowStyle = 0;
            throughRunner = true;
        }
    }
    if (!throughRunner) applicationName = systemProgram;

    // A hidden program gets no console window (a default terminal would
    // show one anyway) and reads end-of-file if it asks a question that no
    // one could see. Every program runs in the system directory: cmd.exe
    // looks for "reg" or "net" in its current directory first, and
    // Corvane's may be a download folder.
    os::CreatedProcess created;
    UniqueHandle creation, process;
    {
        const FSRedirOff nativeSystem;
        created = os::LaunchProcess(applicationName, sShell, os::SystemDirectory(), windowStyle,
                                    windowStyle == 0);
        // The creation handle is held until the wait handle is open, so that
        // a program that ends at once is still there to be opened.
        creation.reset(created.process);
        uint32_t openError = 0;
        if (created.error == 0 && bWait)
            process.reset(os::OpenProcess(os::kProcessQueryInformation | os::kSynchronize, false,
                                          created.processId, openError));
    }
    // After redirection is back on: FormatMessage may read its texts from
    // MUI files, which need it.
    if (created.error != 0) {
        DPrint(L"CommonModule\\ShellX VB ERROR: " + std::to_wstring(created.error) + L" " +
               ErrorDescription(created.error));
        DPrint(L"\t- sShell=" + sShell);
        return false;
    }
    creation.reset();

    bool result = false;
    if (!bWait) {
        result = created.processId != 0;
    } else if (process) {
        // Woken by the program's end, or by a message, which is handled at
        // once so that the window keeps answering. The end is the handle
        // being signalled: a program may itself exit with 259.
        os::WaitResult woke;
        do {
            os::DispatchPendingMessages();
            woke = os::WaitForObjectOrInput(process.get(), kLongestWaitMs);
        } while (woke == os::WaitResult::Input || woke == os::WaitResult::TimedOut);
        uint32_t exitCode = 0;
        os::GetExitCodeProcess(process.get(), exitCode);
        lExitCode = static_cast<int32_t>(exitCode);
        result = true;
    }

    if (!result) DPrint(L"ShellX (Failed):  " + sShell);
    return result;
}

}  // namespace CommonModule
