// The seam between Corvane and Windows. Every platform service the program
// uses is declared here as a plain function, about as thin as the Windows
// call it stands for. The Windows build links os/win32, the native build
// links the simulated machine in os/sim.
//
// A new Windows call, in order:
//  1. Declare it here, in its area's section, as thin as the call itself.
//  2. Implement it in os/win32/, in the file of its area; a function newer
//     than Windows XP is looked up at run time (os/win32/helpers.h).
//  3. Model it in os/sim/, in the file of its area, with what a test sets
//     up and reads back in os/sim/machine.h.
//  4. Add each function a program now imports, once it is known to exist
//     on XP SP3, to that program's imports list; both link os/win32, so
//     look at both: tests/wine/expected/imports.txt (Corvane.exe) and
//     tests/wine/expected/check-imports.txt (CorvaneCheck.exe). The imports
//     tests (ctest --preset windows -R imports) name any that is missing.
//  5. Check the Windows facts the model takes for granted in
//     tests/wine/win32_only_test.cpp; test the logic that uses the call
//     against the model in tests/.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace os {

// ---- WMI ------------------------------------------------------------------

// Each argument is put as the type that the method's signature declares for
// it (a boolean parameter receives VT_BOOL, whatever Corvane passed); one
// that the signature does not declare goes as it is.
struct WmiArgument {
    std::wstring name;
    std::variant<std::wstring, int32_t, bool> value;
};

// One method call on a class object, e.g. SystemRestore in root\default.
struct WmiMethodCall {
    std::wstring nameSpace;
    std::wstring className;
    std::wstring method;
    bool impersonate = true;             // impersonation level "impersonate"
    std::vector<WmiArgument> arguments;  // in the method's parameter order
    // Leaves out the arguments that the method's signature, as read from the
    // class, does not declare (a method's parameters differ between versions).
    bool onlyDeclaredArguments = false;
    // How long the whole call may take, connection, class and method
    // included; past it the call is raised as WBEM_E_TIMED_OUT and left to
    // end by itself. 0: no limit.
    uint32_t limitMs = 0;
};

enum class WmiStatus {
    Returned,  // the method ran and gave a ReturnValue
    Raised,    // binding or the call failed: errorCode / errorDescription
    NoValue,   // the call reported success but gave no output object
};

struct WmiOutcome {
    WmiStatus status = WmiStatus::Raised;
    int32_t returnValue = 0;
    int32_t errorCode = 0;
    std::wstring errorDescription;  // the WMI layer's own text, may be empty
};

constexpr int32_t kWbemTimedOut = static_cast<int32_t>(0x80041069u);           // WBEM_E_TIMED_OUT
constexpr int32_t kAbandonedAtSessionEnd = static_cast<int32_t>(0x80004004u);  // E_ABORT

// The calling thread's window messages are handled while it waits. From
// Windows Vista on, a connection that WMI cannot make within two minutes is
// raised like any other error; XP offers no limit of its own. Once the
// session ends (SessionEndHeard) it is raised as kAbandonedAtSessionEnd.
WmiOutcome InvokeWmiMethod(const WmiMethodCall& call);

// One instance of SystemRestore in root\default, as listed.
struct RestorePoint {
    uint32_t sequenceNumber = 0;
    std::wstring creationTime;  // CIM datetime text, e.g. 20261207153000.000000-000
    std::wstring description;
    int32_t type = -1;  // RestorePointType
};

struct RestorePointList {
    bool ok = false;  // every instance arrived and held the four properties
    int32_t errorCode = 0;
    std::vector<RestorePoint> points;
};

// Every restore point System Restore lists; an instance whose properties
// read as null is left out. An instance that does not arrive within two
// minutes, or a listing that takes longer than limitMs (0: no limit), fails
// it (WBEM_E_TIMED_OUT); the end of the session, kAbandonedAtSessionEnd.
// Window messages are handled while it waits.
RestorePointList ListRestorePoints(uint32_t limitMs);

// ---- Status window and message box ----------------------------------------

// The fonts a window of Corvane's may have: the system's default (the old
// bold one) or the one of its message boxes (SPI_GETNONCLIENTMETRICS).
enum class WindowFont { SystemDefault, Message };

// What the status window is made of, in pixels, as status_window/ decided it.
struct StatusWindowLayout {
    int clientWidth = 0;
    int clientHeight = 0;
    int labelLeft = 0;
    int labelTop = 0;
    int labelWidth = 0;
    int labelHeight = 0;
    WindowFont font = WindowFont::SystemDefault;
    std::wstring caption;
    std::wstring labelText;
};

// The screen's dots per inch (LOGPIXELSY); 96 where it cannot be read.
int ScreenDpi();

// How many pixels high text is in a font, wrapped into width pixels and
// centred, as DrawText measures it for the status window's label; 0 where
// it cannot be measured.
int TextHeight(const std::wstring& text, int width, WindowFont font);

// Creates the window if needed, centred on the work area, and shows it
// modeless, without an owner. A window that exists keeps its layout.
void StatusWindowShow(const StatusWindowLayout& layout);
void StatusWindowSetCaption(const std::wstring& caption);
// The label's text, and the heights of the label and of the client area it
// is to have now (the window keeps its place and width).
void StatusWindowSetLabel(const std::wstring& text, int labelHeight, int clientHeight);
void StatusWindowUnload();

// What WM_ENDSESSION told the status window (wParam and lParam).
enum class SessionEnd {
    None,      // nothing yet, or wParam FALSE: another program cancelled a shutdown
    Ends,      // wParam TRUE: the user logs off or Windows shuts down
    CloseApp,  // wParam TRUE with ENDSESSION_CLOSEAPP: the Restart Manager asks Corvane to close
};

// Called while the status window exists, shown or hidden, with what
// WM_ENDSESSION said: once the window has answered an end, Windows may end
// the process without a further word. WM_QUERYENDSESSION is answered at
// once and reaches no handler. A user who closes the window only hides it,
// so that it still hears the end of the session. Null for none.
void StatusWindowOnSessionEnd(void (*handler)(SessionEnd end));

// The end the status window has heard, None until one came. From then on
// the seam starts no WMI call and no longer waits for one under way, which
// then fails with kAbandonedAtSessionEnd.
SessionEnd SessionEndHeard();

// MessageBoxW with no owner; returns the button id (IDYES 6, IDNO 7, ...).
int ShowMessageBox(const std::wstring& text, const std::wstring& title, uint32_t style);

// ---- Debugger output, time, messages --------------------------------------

// OutputDebugStringA of the text converted to the ANSI code page.
void OutputDebugText(const std::wstring& text);

struct LocalTime {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0, milliseconds = 0;
};
LocalTime GetLocalTime();

void Sleep(uint32_t milliseconds);

// Dispatches the calling thread's pending window messages and returns.
void DispatchPendingMessages();

// ---- Process and environment ----------------------------------------------

// Full path of the running executable (GetModuleFileNameW); empty on failure.
std::wstring ExecutablePath();

// An unset variable and an empty one both read as empty, as on Windows.
std::wstring EnvironmentValue(const std::wstring& name);

// The system's message text for a Windows error code (FormatMessage with
// FROM_SYSTEM | IGNORE_INSERTS), exactly as written and of any length; empty
// when none.
std::wstring FormatSystemMessage(uint32_t code);

// ---- Files -----------------------------------------------------------------

// OpenFile(path in ANSI, OF_EXIST): the file is opened and closed at once.
// The HFILE value, or -1 (HFILE_ERROR) when it cannot be opened as a file.
int32_t OpenFileExists(const std::wstring& path);

constexpr uint32_t kAttributeDirectory = 0x10;

// GetFileAttributesW. False, with the Windows error code, when it fails.
bool QueryFileAttributes(const std::wstring& path, uint32_t& attributes, uint32_t& error);

constexpr uint32_t kAttributeHidden = 0x2;
constexpr uint32_t kAttributeSystem = 0x4;

// The wildcard listing (FindFirstFileW / FindNextFileW / FindClose), in the
// order the file system yields the entries, "." and ".." included.
struct FindEntry {
    std::wstring name;
    uint32_t attributes = 0;
};
// 0 when nothing matches or the listing fails; error is then
// ERROR_FILE_NOT_FOUND (2) for no match, anything else for a failure.
uintptr_t FindFirst(const std::wstring& pattern, FindEntry& entry, uint32_t& error);
bool FindNext(uintptr_t find, FindEntry& entry);
void FindClose(uintptr_t find);

// GetSystemDirectoryW: the system directory, e.g. C:\Windows\system32.
std::wstring SystemDirectory();

// GetSystemWindowsDirectoryW: the Windows directory that every user shares,
// e.g. C:\Windows. The environment's SystemRoot is the caller's to set, and
// GetWindowsDirectoryW may name a per-user directory under Terminal Services.
std::wstring WindowsDirectory();

// ---- WOW64 file-system redirection -------------------------------------------

// The two kernel32 calls, looked up by name on first use. They return 0 when
// the function was called (its own result is not reported), or the error of
// the lookup (ERROR_PROC_NOT_FOUND where kernel32 lacks the function).
uint32_t Wow64DisableFsRedirection(uintptr_t& oldValue);
uint32_t Wow64RevertFsRedirection(uintptr_t oldValue);

// ---- Processes ---------------------------------------------------------------

// A kernel handle; 0 is none. Owned above the seam by a UniqueHandle.
using Handle = uintptr_t;

struct CreatedProcess {
    uint32_t error = 0;  // 0 when the process was created
    uint32_t processId = 0;
    Handle process = 0;  // the creation handle; the thread handle is closed
};

// CreateProcessW with STARTF_USESHOWWINDOW. An empty applicationName lets
// Windows take the program from the command line and search for it. The
// program starts in currentDirectory (the caller's own when empty).
// detachedConsole adds CREATE_NO_WINDOW and STARTF_USESTDHANDLES with
// standard input, output and error on the NUL device: a console program gets
// no console window and reads end-of-file. The NUL handle is the only one
// made inheritable, and only for the start.
CreatedProcess LaunchProcess(const std::wstring& applicationName, const std::wstring& commandLine,
                             const std::wstring& currentDirectory, int showWindow,
                             bool detachedConsole = false);

constexpr uint32_t kProcessQueryInformation = 0x400;
constexpr uint32_t kSynchronize = 0x100000;  // needed to wait on a handle
constexpr uint32_t kStillActive = 259;

enum class WaitResult { Signalled, Input, TimedOut, Failed };

// MsgWaitForMultipleObjects on one handle with QS_ALLINPUT: returns when the
// handle is signalled, when new input reaches the thread's queue, or after
// the timeout. It dispatches nothing.
WaitResult WaitForObjectOrInput(Handle handle, uint32_t milliseconds);

// OpenProcess, the handle not inherited; 0 with the Windows error code when
// it fails.
Handle OpenProcess(uint32_t access, uint32_t processId, uint32_t& error);

bool GetExitCodeProcess(Handle process, uint32_t& exitCode);

void CloseHandle(Handle handle);

// ---- Token, privilege and shutdown ----------------------------------------

// The outcome of a Windows call that reports failure through GetLastError.
struct CallResult {
    bool ok = false;
    uint32_t lastError = 0;  // GetLastError right after a failed call
};

// A locally unique identifier, by which Windows names a privilege.
struct Luid {
    uint32_t lowPart = 0;
    int32_t highPart = 0;
};

// The one entry of a TOKEN_PRIVILEGES record.
struct TokenPrivilege {
    Luid luid;
    uint32_t attributes = 0;  // SE_PRIVILEGE_ENABLED is 2
};

// LookupPrivilegeValueA on the local system, the name converted to the ANSI
// code page.
CallResult LookupPrivilegeValueA(const std::wstring& name, Luid& luid);

// GetCurrentProcess: the pseudo handle of the own process (not 0), never
// closed.
CallResult GetCurrentProcess(Handle& process);

// The token is the caller's to close (CloseHandle).
CallResult OpenProcessToken(Handle process, uint32_t desiredAccess, Handle& token);

// AdjustTokenPrivileges, the other privileges left as they are, with a
// one-entry record (16 bytes) and, when given,
// the same layout for the previous state. Windows reports a partial
// assignment as success: lastError is then ERROR_NOT_ALL_ASSIGNED (1300),
// and 0 after a full one.
CallResult AdjustTokenPrivileges(Handle token, const TokenPrivilege& newState,
                                 TokenPrivilege* previousState);

// ExitWindowsEx: on success Windows goes on shutting down by itself and the
// call returns at once.
CallResult ExitWindowsEx(uint32_t flags, uint32_t reason);

// InitiateSystemShutdownExW for the local computer, at once and without a
// message; like ExitWindowsEx it needs the enabled shutdown privilege.
CallResult InitiateSystemShutdownExW(bool forceAppsClosed, bool rebootAfterShutdown,
                                     uint32_t reason);

// What Corvane reads of GetVersionExA's OSVERSIONINFOEXA.
struct VersionInfo {
    uint32_t platformId = 0;    // VER_PLATFORM_WIN32_NT is 2
    uint32_t majorVersion = 0;  // 5 for XP, 6 from Vista on
    uint32_t productType = 0;   // VER_NT_WORKSTATION is 1; servers and domain controllers differ
};
CallResult GetVersionExA(VersionInfo& info);

// ---- One Corvane at a time --------------------------------------------------

// CreateMutexW without initial ownership: the named mutex, made or opened.
// One that exists but this account may not open fails with
// ERROR_ACCESS_DENIED (5); a name held by an object of another type with
// ERROR_INVALID_HANDLE (6). The caller closes it.
CallResult CreateMutexW(const std::wstring& name, Handle& mutex);

constexpr uint32_t kErrorProcNotFound = 127;

constexpr uint32_t kErrorAlreadyExists = 183;

// CreatePrivateNamespaceW: the private namespace `prefix` whose boundary
// holds the Administrators group (from Windows 7 on also the high integrity
// level), with a DACL that lets only administrators and the system in: a
// standard user can neither make it nor open it (ERROR_ACCESS_DENIED). Its
// objects are named prefix\\name. One that a process holds already fails
// with ERROR_ALREADY_EXISTS; it goes when its maker closes it or ends.
// ERROR_PROC_NOT_FOUND where kernel32 has no private namespaces (before
// Vista).
CallResult CreateAdministratorsNamespace(const std::wstring& prefix, Handle& nameSpace);
void ClosePrivateNamespace(Handle nameSpace);

constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitAbandoned = 0x80;  // its owner ended without releasing it
constexpr uint32_t kWaitTimeout = 0x102;

// WaitForSingleObject; 0xFFFFFFFF (WAIT_FAILED) when it fails.
uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds);

CallResult ReleaseMutex(Handle mutex);

// CheckTokenMembership of the caller's token and the Administrators group:
// true only where the group is enabled. Under UAC a run that was not
// elevated holds it for deny only, and so counts as no member.
CallResult CallerIsAdministrator(bool& member);

// ---- Registry ----------------------------------------------------------------

// Whether HKEY_LOCAL_MACHINE\subKey exists (a key that exists but may not be
// read counts as existing).
bool RegistryKeyExists(const std::wstring& subKey);

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegDword = 4;

// A value as the registry stores it: its type (REG_SZ 1, REG_DWORD 4, ...)
// and its bytes.
struct RegistryValue {
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

// One value of HKEY_LOCAL_MACHINE\subKey in the native view of the registry
// (KEY_WOW64_64KEY, which 32-bit Windows ignores). The key is opened, never
// created. Each returns the Windows error code, 0 on success;
// ERROR_FILE_NOT_FOUND (2) names a missing key or value.
uint32_t RegistryQueryValue(const std::wstring& subKey, const std::wstring& name,
                            RegistryValue& value);
uint32_t RegistrySetValue(const std::wstring& subKey, const std::wstring& name,
                          const RegistryValue& value);
uint32_t RegistryDeleteValue(const std::wstring& subKey, const std::wstring& name);

// RegCreateKeyExW of HKEY_LOCAL_MACHINE\subKey in the native view, with the
// keys above it that are missing; created tells whether subKey is new.
uint32_t RegistryCreateKey(const std::wstring& subKey, bool& created);
// RegFlushKey: the key's values are on disk when it returns, safe from a
// power cut.
uint32_t RegistryFlushKey(const std::wstring& subKey);
constexpr uint32_t kErrorDirNotEmpty = 145;  // ERROR_DIR_NOT_EMPTY

// Deletes a key of the native view that holds neither subkeys nor values;
// ERROR_DIR_NOT_EMPTY for one that holds either.
uint32_t RegistryDeleteKey(const std::wstring& subKey);

// ---- Who can see the desktop; the shell ------------------------------------

constexpr uint32_t kWindowStationVisible = 0x1;  // WSF_VISIBLE

// GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS): the
// station's USEROBJECTFLAGS.dwFlags.
CallResult ProcessWindowStationFlags(uint32_t& flags);

// ProcessIdToSessionId of the own process.
CallResult CurrentProcessSessionId(uint32_t& sessionId);

constexpr uint32_t kErrorElevationRequired = 740;  // what CreateProcess says without rights
constexpr uint32_t kErrorCancelled = 1223;         // the user declined

// ShellExecuteExW of a file with a verb ("runas" asks the user's consent to
// elevate) in a directory, synchronous and without error dialogs, COM
// initialised for it as the shell asks; the started program is not awaited.
// Its windows (the consent prompt) are owned by the status window while that
// is open. Call it with WOW64
// redirection on: the shell loads its own components. Windows carries out
// an elevated start from a 64-bit service on 64-bit Windows, which starts
// the native file of a System32 path.
CallResult ShellExecuteWithVerb(const std::wstring& verb, const std::wstring& file,
                                const std::wstring& parameters, const std::wstring& directory,
                                int showWindow);

// ---- Service control manager -------------------------------------------------

// Service control manager handles (SC_HANDLE) are os::Handle values too, but
// each is closed with CloseServiceHandle, never with CloseHandle.
constexpr uint32_t kScManagerConnect = 0x1;
constexpr uint32_t kServiceQueryConfig = 0x1;
constexpr uint32_t kServiceChangeConfig = 0x2;
constexpr uint32_t kServiceAutoStart = 2;
constexpr uint32_t kServiceDemandStart = 3;  // "Manual"
constexpr uint32_t kServiceDisabled = 4;
constexpr uint32_t kErrorServiceDoesNotExist = 1060;

// OpenSCManagerW on the local machine's active database.
CallResult OpenSCManagerW(uint32_t desiredAccess, Handle& manager);

// OpenServiceW by the service's key name, e.g. "VSS".
CallResult OpenServiceW(Handle manager, const std::wstring& serviceName, uint32_t desiredAccess,
                        Handle& service);

// What Corvane reads of QueryServiceConfigW's QUERY_SERVICE_CONFIG.
struct ServiceConfig {
    uint32_t startType = 0;
};
CallResult QueryServiceConfigW(Handle service, ServiceConfig& config);

// ChangeServiceConfigW that changes the start type alone: every other field
// SERVICE_NO_CHANGE or null.
CallResult ChangeServiceConfigW(Handle service, uint32_t startType);

void CloseServiceHandle(Handle handle);

}  // namespace os
