// A simulated Windows for the native tests: a small model machine that a
// test sets up, lets the program run on, and then inspects.
#pragma once

#include "os/os.h"
#include "os/sim/registry.h"

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace sim {

// Paths, registry and environment names compare without regard to case, as
// on Windows.
std::wstring Upper(std::wstring text);
struct CaseInsensitiveLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

struct StatusWindow {
    bool created = false;
    bool visible = false;
    bool destroyed = false;
    os::StatusWindowLayout layout;  // as shown, the label and client heights as set since
    std::wstring caption;
    std::wstring label;
    // What the user could see: the label as painted at each message dispatch
    // (a new entry only when it changed since the last paint).
    std::vector<std::wstring> paintedLabels;
    int showCount = 0;
};

struct MessageBoxCall {
    std::wstring text;
    std::wstring title;
    uint32_t style = 0;
    // The label of the status window while the box was open.
    std::wstring labelBehind;
    bool statusWindowOpen = false;
};

// A file or directory of the simulated drive.
struct FileEntry {
    std::wstring path;  // as created, e.g. C:\Windows\System32\cmd.exe
    bool directory = false;
    uint32_t attributes = 0x20;  // FILE_ATTRIBUTE_ARCHIVE for files
    bool openable = true;        // false: locked or unreadable
    // For programs: how long the process runs and what it returns. A
    // command interpreter (cmd.exe) started with "/c exit N" returns N.
    int64_t runMs = 0;
    uint32_t exitCode = 0;
    // Of successive runs, before exitCode applies; a run uses one up.
    mutable std::deque<uint32_t> exitCodes{};
    uint32_t launchError = 0;  // CreateProcess fails with this code
    // Its manifest asks for administrator rights: a caller without them
    // cannot create it (ERROR_ELEVATION_REQUIRED), the shell asks consent.
    bool requiresAdministrator = false;
};

struct StartedProcess {
    std::wstring applicationName;  // as passed, may be empty
    std::wstring commandLine;
    int showWindow = 0;
    std::wstring program;           // the file that really ran
    std::wstring currentDirectory;  // as passed; empty: Corvane's own
    bool redirectionDisabled = false;
    uint32_t processId = 0;
    int64_t endsAtMs = 0;
    uint32_t exitCode = 0;
    std::wstring verb;  // set when the shell started it
    // Started with no console window and the standard handles on NUL.
    bool detachedConsole = false;
};

// A parameter of a WMI method's signature; the types in the order of
// os::WmiArgument's alternatives.
enum class CimType { String, Integer, Boolean };
struct WmiParameter {
    std::wstring name;
    CimType type = CimType::String;
};

// A Windows call that a test makes fail, and the error code it leaves.
struct Failure {
    bool fails = false;
    uint32_t lastError = 0;
};
inline Failure FailsWith(uint32_t lastError) { return Failure{true, lastError}; }

// A request to end Windows, by call name; InitiateSystemShutdownEx's as the
// ExitWindowsEx flags of the same meaning (1 shut down, 2 restart, 4 forced).
struct ShutdownRequest {
    std::string call;
    uint32_t flags = 0;
    uint32_t reason = 0;
    bool accepted = false;
};

// The own process's token, what Windows says about itself, shutdown
// requests.
struct ShutdownState {
    uint32_t platformId = 2;  // VER_PLATFORM_WIN32_NT; 1 is Windows 9x
    uint32_t majorVersion = 10;
    uint32_t productType = 1;  // VER_NT_WORKSTATION; 3 a server
    // The account holds the shutdown privilege; like every privilege of a
    // token it starts disabled.
    bool holdsShutdownPrivilege = true;
    bool shutdownPrivilegeEnabled = false;

    Failure versionQuery;
    Failure privilegeLookup;
    Failure currentProcess;  // GetCurrentProcess answering 0
    Failure tokenOpen;
    Failure tokenAdjust;
    Failure exitWindows;
    Failure initiateShutdown;

    std::vector<std::string> calls;  // Windows calls in order, by name
    std::vector<ShutdownRequest> shutdownRequests;
    std::map<uintptr_t, uint32_t> openTokens;  // handle -> access granted
};

// A service of the service control manager, and what its calls do.
struct Service {
    uint32_t startType = 3;  // SERVICE_DEMAND_START
    Failure open;
    Failure query;
    Failure change;
};

struct ServiceHandle {
    std::wstring service;  // empty for the manager itself
    uint32_t access = 0;
};

// A start type as changed, and how many processes had been started and
// other WMI methods (Enable) called by then.
struct ServiceChange {
    std::wstring service;
    uint32_t startType = 0;
    size_t processesBefore = 0;
    size_t otherWmiCallsBefore = 0;
};

struct ServiceManager {
    std::map<std::wstring, Service, CaseInsensitiveLess> services;
    Failure managerOpen;
    std::map<uintptr_t, ServiceHandle> openHandles;
    std::vector<ServiceChange> changes;
    int invalidCloses = 0;  // CloseServiceHandle of something not open
};

// A named mutex: another process holds it (a Corvane that runs), or held it
// and ended without releasing it; one that cannot be made or opened fails
// with createError (5: another account's security shuts this one out; 6:
// the name is another type of object's).
struct NamedMutex {
    bool heldByAnother = false;
    bool abandoned = false;
    uint32_t createError = 0;
    uintptr_t ownedThrough = 0;  // the handle through which this process owns it
};

// Thrown where a process ends abruptly (Machine::killedAtRequest).
struct Killed {};
// Thrown where a request without a time limit would wait for ever.
struct Hung {};

struct Machine {
    // Clock: milliseconds of local time since midnight of `date`.
    int year = 2026, month = 12, day = 6;
    int64_t clockMs = 10 * 3600 * 1000;  // 10:00:00.000

    std::map<std::wstring, std::wstring, CaseInsensitiveLess> environment;
    std::wstring executablePath = L"C:\\Tools\\Corvane.exe";

    // Outcomes of successive restore-point requests (CreateRestorePoint);
    // once used up, every request raises.
    std::deque<os::WmiOutcome> wmiOutcomes;
    std::vector<os::WmiMethodCall> wmiCalls;
    // The status window's label and the registry at the moment of each request.
    std::vector<std::wstring> labelAtWmiCall;
    std::vector<Registry> registryAtWmiCall;
    // Calls of the class's other methods (Enable), with the arguments the
    // method received, and what every such call gives.
    std::vector<os::WmiMethodCall> otherWmiCalls;
    os::WmiOutcome otherWmiOutcome{os::WmiStatus::Returned, 0, 0, {}};
    // Each method's declared parameters: WMI refuses any other argument, and
    // takes each as its declared type.
    std::map<std::wstring, std::vector<WmiParameter>> wmiParameters;

    // Restore points as System Restore lists them. A request that returns 0
    // adds one with the next sequence number, the description and type
    // asked for and the clock's time, unless Windows skips it: a recent
    // point exists and the creation frequency in the native registry is not
    // the DWORD 0.
    std::vector<os::RestorePoint> restorePoints;
    uint32_t nextSequenceNumber = 1;
    bool recentRestorePoint = false;
    int32_t restorePointListingError = 0;  // when set, listing them fails with it
    // Another program (an installer) makes a point during each request.
    bool otherProgramMakesPoints = false;

    // The process ends abruptly (killed, a power cut) in the nth request:
    // the request throws sim::Killed, and the registry is what it was then.
    int killedAtRequest = 0;
    // The nth request never returns: it ends at its time limit, the clock
    // moved on by that limit, or throws sim::Hung when it has none.
    int hangsAtRequest = 0;
    // The session ends during the nth request, or at the nth message
    // dispatch: Windows tells the status window, if it exists (shown or
    // hidden), with WM_ENDSESSION, whose wParam is false where another
    // program cancelled the shutdown, and whose lParam may say that the
    // Restart Manager asks the application to close. The registry is kept
    // as the handler left it. A request under way is then abandoned.
    int sessionEndsAtRequest = 0;
    int sessionEndsAtDispatch = 0;
    bool sessionEndCancelled = false;
    bool sessionEndClosesApp = false;
    void (*sessionEndHandler)(os::SessionEnd end) = nullptr;
    os::SessionEnd sessionEndHeard = os::SessionEnd::None;
    Registry registryAtSessionEnd;

    // Named mutexes, by name, and the open handles that name them. From
    // Vista on the guard's namespace; before, none (ERROR_PROC_NOT_FOUND).
    std::map<std::wstring, NamedMutex, CaseInsensitiveLess> mutexes;
    std::map<uintptr_t, std::wstring> mutexHandles;
    bool hasPrivateNamespaces = true;
    Failure namespaceCreate;  // 183: another Corvane holds it

    // The caller's token holds the Administrators group enabled. Without it
    // (UAC's filtered token, a standard user): outside the guard's namespace
    // (Windows documents no code for that; the model says 5), and refused
    // every write under HKLM, a service's change, WMI's methods
    // (WBEM_E_ACCESS_DENIED) and the start of a program that requires
    // administrator rights (740).
    bool administrator = true;
    Failure membershipQuery;

    Registry registry;
    // Each key as it was written to disk, in the order of the flushes.
    std::vector<RegistryKey> flushedKeys;
    // The nth value written or deleted fails with ERROR_ACCESS_DENIED (0: none).
    int failRegistryWrite = 0;
    int registryWrites = 0;

    StatusWindow window;
    int dpi = 96;  // the screen's
    // The user closes the window at the nth message dispatch (0: never),
    // which hides it.
    int closeWindowAtDispatch = 0;

    int messageBoxAnswer = 2;  // IDCANCEL

    // Who can see the desktop: the window station's flags and the session.
    uint32_t windowStationFlags = 1;  // WSF_VISIBLE
    Failure windowStationQuery;
    uint32_t sessionId = 1;
    Failure sessionQuery;
    // The user's answer when the shell asks for consent to elevate.
    bool consentGiven = true;
    // On 64-bit Windows a consent start is carried out by a 64-bit service:
    // a System32 path names the native file, and there is no Sysnative
    // alias. Set, the shell resolves the file as the calling 32-bit process
    // would with redirection on.
    bool consentStartRedirected = false;
    std::vector<MessageBoxCall> messageBoxes;

    std::vector<std::wstring> debugOutput;
    std::map<uint32_t, std::wstring> systemMessages;

    // Drive and system. Paths compare without regard to case.
    std::wstring windowsDirectory = L"C:\\Windows";
    std::wstring currentDirectory = L"C:\\Users\\Tech";
    std::map<std::wstring, FileEntry> files;  // keyed by the normalised path, upper case

    // A 32-bit process on 64-bit Windows sees SysWOW64 for System32 while
    // redirection is on; redirection belongs to the (single) thread.
    bool wow64 = false;
    bool redirectionDisabled = false;
    bool kernelHasWow64Functions = true;
    std::vector<uintptr_t> wow64Reverts;  // values passed to the revert call
    int wow64Disables = 0;

    std::vector<StartedProcess> processes;
    bool openProcessFails = false;
    std::map<uintptr_t, uint32_t> openHandles;  // handle -> process id (0: none)
    uintptr_t nextHandle = 0x100;
    int invalidCloses = 0;  // CloseHandle of something not open
    // Opened without SYNCHRONIZE: no wait accepts them.
    std::set<uintptr_t> unwaitableHandles;

    // Open listings: handle -> the entries still to come.
    std::map<uintptr_t, std::deque<os::FindEntry>> listings;
    uint32_t listingError = 0;  // when set, every listing fails with it

    int dispatchCount = 0;
    // Window messages arrive at these clock times, in order; a wait wakes
    // for them and a dispatch takes all that have arrived.
    std::deque<int64_t> messagesAtMs;
    std::vector<int64_t> dispatchTimes;
    std::vector<uint32_t> sleeps;

    ShutdownState shutdown;
    ServiceManager serviceManager;

    void Advance(int64_t milliseconds) { clockMs += milliseconds; }
    void SetTime(int hour, int minute, int second, int milliseconds) {
        clockMs = ((hour * 60 + minute) * 60 + second) * 1000LL + milliseconds;
    }
};

// The one machine the program runs on; Reset() gives a fresh 32-bit
// Windows in C:\Windows with its command interpreter and tools.
Machine& machine();
void Reset();

// Turns the machine into 64-bit Windows: SysWOW64 with 32-bit copies of the
// tools, and "ProgramFiles(x86)" in the environment.
void Make64Bit();

// Adds a file (and the directories above it); returns it for adjustment.
FileEntry& AddFile(const std::wstring& path);
void AddDirectory(const std::wstring& path, uint32_t attributes = 0x10);
void Remove(const std::wstring& path);

// The full path a program would see for `path`, with the current directory,
// the drive and WOW64 redirection applied; empty when it cannot be resolved.
std::wstring Resolve(const std::wstring& path);
const FileEntry* Find(const std::wstring& path);

// A new open handle, counted so that tests can find leaks; a process
// handle names its process, any other handle 0.
uintptr_t NewHandle(uint32_t processId);

// Convenience outcomes for the WMI queue.
os::WmiOutcome Returns(int32_t value);
os::WmiOutcome Raises(int32_t code, const std::wstring& description);
os::WmiOutcome ReturnsNothing();

}  // namespace sim
