// Processes, answered by the simulated machine: the program search, the
// starts (the shell's too), and the waits that move the clock.
#include "os/os.h"
#include "os/sim/machine.h"

#include <algorithm>
#include <cwchar>
#include <utility>

namespace os {

namespace {

// The program token of a command line: quoted, or up to the first blank.
std::wstring ProgramToken(const std::wstring& commandLine) {
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const size_t close = commandLine.find(L'"', 1);
        return commandLine.substr(1, close == std::wstring::npos ? close : close - 1);
    }
    return commandLine.substr(0, commandLine.find(L' '));
}

// Windows' search for a program named without a path: the executable's
// directory, the current directory, the system directory, the Windows
// directory (PATH, which comes next, is left out).
const sim::FileEntry* SearchProgram(std::wstring name) {
    const sim::Machine& m = sim::machine();
    if (name.find(L'.') == std::wstring::npos) name += L".exe";
    if (name.find(L'\\') != std::wstring::npos || name.find(L':') != std::wstring::npos)
        return sim::Find(name);
    for (const std::wstring& folder :
         {m.executablePath.substr(0, m.executablePath.find_last_of(L'\\')), m.currentDirectory,
          os::SystemDirectory(), m.windowsDirectory}) {
        const sim::FileEntry* entry = sim::Find(folder + L"\\" + name);
        if (entry && !entry->directory) return entry;
    }
    return nullptr;
}

sim::StartedProcess* ProcessById(uint32_t processId) {
    for (sim::StartedProcess& p : sim::machine().processes)
        if (p.processId == processId) return &p;
    return nullptr;
}

sim::StartedProcess& Start(const sim::FileEntry& program, const std::wstring& commandLine,
                           const std::wstring& currentDirectory, int showWindow) {
    sim::Machine& m = sim::machine();
    sim::StartedProcess started;
    started.commandLine = commandLine;
    started.currentDirectory = currentDirectory;
    started.showWindow = showWindow;
    started.program = program.path;
    started.redirectionDisabled = m.redirectionDisabled;
    started.processId = 1000 + static_cast<uint32_t>(m.processes.size()) * 4;
    started.endsAtMs = m.clockMs + program.runMs;
    started.exitCode = program.exitCode;
    if (!program.exitCodes.empty()) {  // one a run, where a test set several
        started.exitCode = program.exitCodes.front();
        program.exitCodes.pop_front();
    }
    m.processes.push_back(started);
    return m.processes.back();
}

}  // namespace

CreatedProcess LaunchProcess(const std::wstring& applicationName, const std::wstring& commandLine,
                             const std::wstring& currentDirectory, int showWindow,
                             bool detachedConsole) {
    CreatedProcess created;
    const sim::FileEntry* program = applicationName.empty()
                                        ? SearchProgram(ProgramToken(commandLine))
                                        : sim::Find(applicationName);
    // ERROR_FILE_NOT_FOUND (2), or the error a test gave the program.
    created.error = !program || program->directory ? 2 : program->launchError;
    if (created.error == 0 && program->requiresAdministrator && !sim::machine().administrator)
        created.error = kErrorElevationRequired;
    if (created.error != 0) return created;
    sim::StartedProcess& started = Start(*program, commandLine, currentDirectory, showWindow);
    started.applicationName = applicationName;
    started.detachedConsole = detachedConsole;
    // cmd.exe's "/c exit N" ends with N (machine.h, FileEntry).
    const size_t exitAt = commandLine.find(L"/c exit ");
    if (exitAt != std::wstring::npos &&
        sim::Upper(program->path).find(L"CMD.EXE") != std::wstring::npos)
        started.exitCode =
            static_cast<uint32_t>(std::wcstoul(commandLine.c_str() + exitAt + 8, nullptr, 10));
    created.processId = started.processId;
    created.process = sim::NewHandle(started.processId);
    return created;
}

Handle OpenProcess(uint32_t access, uint32_t processId, uint32_t& error) {
    sim::Machine& m = sim::machine();
    const sim::StartedProcess* process = ProcessById(processId);
    bool stillKnown = process && m.clockMs < process->endsAtMs;
    // An ended process lives on only while some handle to it is open.
    for (const auto& open : m.openHandles) stillKnown = stillKnown || open.second == processId;
    if (!process || !stillKnown || m.openProcessFails) {
        error = 87;  // ERROR_INVALID_PARAMETER: no such process
        return 0;
    }
    const Handle handle = sim::NewHandle(processId);
    if ((access & kSynchronize) == 0) m.unwaitableHandles.insert(handle);
    return handle;
}

WaitResult WaitForObjectOrInput(Handle handle, uint32_t milliseconds) {
    sim::Machine& m = sim::machine();
    const auto open = m.openHandles.find(handle);
    const sim::StartedProcess* p =
        open == m.openHandles.end() ? nullptr : ProcessById(open->second);
    if (!p || m.unwaitableHandles.count(handle) != 0) return WaitResult::Failed;  // access denied
    // The handle comes first, as the lowest index does in Windows.
    const int64_t message = m.messagesAtMs.empty() ? INT64_MAX : m.messagesAtMs.front();
    const int64_t timeout = m.clockMs + milliseconds;
    if (p->endsAtMs <= std::min(message, timeout)) {
        m.clockMs = std::max(m.clockMs, p->endsAtMs);
        return WaitResult::Signalled;
    }
    m.clockMs = std::max(m.clockMs, std::min(message, timeout));
    return message <= timeout ? WaitResult::Input : WaitResult::TimedOut;
}

bool GetExitCodeProcess(Handle process, uint32_t& exitCode) {
    sim::Machine& m = sim::machine();
    const auto open = m.openHandles.find(process);
    if (open == m.openHandles.end()) return false;
    const sim::StartedProcess* p = ProcessById(open->second);
    if (!p) return false;
    exitCode = m.clockMs < p->endsAtMs ? kStillActive : p->exitCode;
    return true;
}

void CloseHandle(Handle handle) {
    sim::Machine& m = sim::machine();
    if (handle == static_cast<Handle>(-1)) return;  // the own process's pseudo handle
    if (m.openHandles.erase(handle) == 0) ++m.invalidCloses;
    m.unwaitableHandles.erase(handle);
    if (m.shutdown.openTokens.erase(handle) != 0) m.shutdown.calls.push_back("CloseHandle");
}

CallResult CreateMutexW(const std::wstring& name, Handle& mutex) {
    sim::Machine& m = sim::machine();
    if (const uint32_t error = m.mutexes[name].createError) return CallResult{false, error};
    mutex = sim::NewHandle(0);
    m.mutexHandles[mutex] = name;
    return CallResult{true, 0};
}

uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) {
    sim::Machine& m = sim::machine();
    const auto name = m.mutexHandles.find(handle);
    if (name == m.mutexHandles.end() || m.openHandles.count(handle) == 0) return 0xFFFFFFFF;
    sim::NamedMutex& mutex = m.mutexes[name->second];
    if (mutex.heldByAnother) {
        m.Advance(milliseconds);
        return kWaitTimeout;
    }
    mutex.ownedThrough = handle;
    return std::exchange(mutex.abandoned, false) ? kWaitAbandoned : kWaitObject0;
}

CallResult ReleaseMutex(Handle mutex) {
    sim::Machine& m = sim::machine();
    const auto name = m.mutexHandles.find(mutex);
    if (name == m.mutexHandles.end() || m.mutexes[name->second].ownedThrough != mutex)
        return CallResult{false, 288};  // ERROR_NOT_OWNER
    m.mutexes[name->second].ownedThrough = 0;
    return CallResult{true, 0};
}

CallResult CreateAdministratorsNamespace(const std::wstring&, Handle& nameSpace) {
    sim::Machine& m = sim::machine();
    if (!m.hasPrivateNamespaces) return CallResult{false, kErrorProcNotFound};
    if (m.namespaceCreate.fails) return CallResult{false, m.namespaceCreate.lastError};
    if (!m.administrator) return CallResult{false, 5};
    nameSpace = sim::NewHandle(0);
    return CallResult{true, 0};
}

void ClosePrivateNamespace(Handle nameSpace) { CloseHandle(nameSpace); }

CallResult CallerIsAdministrator(bool& member) {
    const sim::Machine& m = sim::machine();
    if (m.membershipQuery.fails) return CallResult{false, m.membershipQuery.lastError};
    member = m.administrator;
    return CallResult{true, 0};
}

CallResult ShellExecuteWithVerb(const std::wstring& verb, const std::wstring& file,
                                const std::wstring& parameters, const std::wstring& directory,
                                int showWindow) {
    sim::Machine& m = sim::machine();
    const bool elevatedNative = verb == L"runas" && m.wow64 && !m.consentStartRedirected;
    if (elevatedNative && sim::Upper(file).find(L"\\SYSNATIVE\\") != std::wstring::npos)
        return CallResult{false, 3};  // ERROR_PATH_NOT_FOUND: no alias for a 64-bit service
    const bool redirectionWas = m.redirectionDisabled;
    if (elevatedNative) m.redirectionDisabled = true;
    const sim::FileEntry* program = sim::Find(file);
    m.redirectionDisabled = redirectionWas;
    if (!program || program->directory) return CallResult{false, 2};  // ERROR_FILE_NOT_FOUND
    if (verb == L"runas" && !m.consentGiven) return CallResult{false, kErrorCancelled};
    // The shell quotes the program it starts.
    sim::StartedProcess& started =
        Start(*program, L"\"" + file + L"\"" + (parameters.empty() ? L"" : L" " + parameters),
              directory, showWindow);
    started.verb = verb;
    return CallResult{true, 0};
}

}  // namespace os
