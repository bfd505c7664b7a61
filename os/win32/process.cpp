// Starting programs and waiting for them.
#include "os/os.h"
#include "os/win32/handles.h"
#include "os/win32/helpers.h"

#include <sddl.h>

#include <memory>
#include <optional>
#include <vector>

namespace os {

namespace {

using unique_handle = win32::UniqueResource<HANDLE, ::CloseHandle, 0>;

// STARTUPINFOEXW and the handle-list attribute (Vista and later), which the
// XP headers this program builds with leave out.
struct StartupInfoEx {
    STARTUPINFOW startup;
    void* attributes;
};
constexpr DWORD kExtendedStartupInfoPresent = 0x00080000;
constexpr DWORD_PTR kAttributeHandleList = 0x00020002;

// The one handle a child may inherit, where Windows can say so (Vista and
// later). Without the list the child inherits every inheritable handle of
// this process, and the program makes no other handle inheritable.
class InheritOnly {
public:
    explicit InheritOnly(HANDLE* handle) {
        using Initialize = BOOL(WINAPI*)(void*, DWORD, DWORD, SIZE_T*);
        using Update = BOOL(WINAPI*)(void*, DWORD, DWORD_PTR, void*, SIZE_T, void*, SIZE_T*);
        static const auto initialize =
            win32::Kernel32Function<Initialize>("InitializeProcThreadAttributeList");
        static const auto update = win32::Kernel32Function<Update>("UpdateProcThreadAttribute");
        if (!initialize || !update || !Delete()) return;
        SIZE_T size = 0;
        initialize(nullptr, 1, 0, &size);
        buffer_.resize(size);
        if (size == 0 || !initialize(buffer_.data(), 1, 0, &size)) return;
        initialized_ = true;
        // Windows keeps the address: the handle must outlive the start.
        listed_ = update(buffer_.data(), 0, kAttributeHandleList, handle, sizeof *handle, nullptr,
                         nullptr) != FALSE;
    }
    InheritOnly(const InheritOnly&) = delete;
    InheritOnly& operator=(const InheritOnly&) = delete;
    ~InheritOnly() {
        if (initialized_) Delete()(buffer_.data());
    }
    void* attributes() { return listed_ ? buffer_.data() : nullptr; }

private:
    using DeleteList = void(WINAPI*)(void*);
    static DeleteList Delete() {
        static const auto remove =
            win32::Kernel32Function<DeleteList>("DeleteProcThreadAttributeList");
        return remove;
    }
    std::vector<char> buffer_;
    bool initialized_ = false;
    bool listed_ = false;
};

}  // namespace

CreatedProcess LaunchProcess(const std::wstring& applicationName, const std::wstring& commandLine,
                             const std::wstring& currentDirectory, int showWindow,
                             bool detachedConsole) {
    CreatedProcess created;
    StartupInfoEx info{};
    STARTUPINFOW& startup = info.startup;
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showWindow);
    DWORD flags = 0;

    // NUL is inheritable only for this start, and closed right after it.
    unique_handle nul;
    HANDLE nulForChild = nullptr;
    if (detachedConsole) {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        nulForChild =
            ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          &inheritable, OPEN_EXISTING, 0, nullptr);
        if (nulForChild == INVALID_HANDLE_VALUE) {
            created.error = ::GetLastError();
            return created;
        }
        nul.reset(nulForChild);
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdInput = startup.hStdOutput = startup.hStdError = nulForChild;
        flags |= CREATE_NO_WINDOW;
    }
    std::optional<InheritOnly> inheritOnly;
    if (detachedConsole) inheritOnly.emplace(&nulForChild);
    if (inheritOnly && inheritOnly->attributes()) {
        info.attributes = inheritOnly->attributes();
        startup.cb = sizeof info;
        flags |= kExtendedStartupInfoPresent;
    }

    // CreateProcessW may write into the command line.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');

    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(applicationName.empty() ? nullptr : applicationName.c_str(), line.data(),
                          nullptr, nullptr, detachedConsole ? TRUE : FALSE, flags, nullptr,
                          currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup,
                          &process)) {
        const DWORD error = ::GetLastError();
        created.error = error != 0 ? error : ERROR_GEN_FAILURE;  // never a failure read as a start
        return created;
    }
    ::CloseHandle(process.hThread);
    created.processId = process.dwProcessId;
    created.process = reinterpret_cast<Handle>(process.hProcess);
    return created;
}

Handle OpenProcess(uint32_t access, uint32_t processId, uint32_t& error) {
    HANDLE process = ::OpenProcess(access, FALSE, processId);
    if (!process) error = ::GetLastError();
    return reinterpret_cast<Handle>(process);
}

bool GetExitCodeProcess(Handle process, uint32_t& exitCode) {
    DWORD code = 0;
    if (!::GetExitCodeProcess(reinterpret_cast<HANDLE>(process), &code)) return false;
    exitCode = code;
    return true;
}

void CloseHandle(Handle handle) {
    if (handle) ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

CallResult CreateMutexW(const std::wstring& name, Handle& mutex) {
    HANDLE created = ::CreateMutexW(nullptr, FALSE, name.c_str());
    if (!created) return CallResult{false, ::GetLastError()};
    mutex = reinterpret_cast<Handle>(created);
    return CallResult{true, 0};
}

uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(handle), milliseconds);
}

CallResult ReleaseMutex(Handle mutex) {
    if (::ReleaseMutex(reinterpret_cast<HANDLE>(mutex))) return CallResult{true, 0};
    return CallResult{false, ::GetLastError()};
}

namespace {

// Vista and later; typed by hand, the XP headers leave them out.
using CreateBoundaryDescriptorWFunction = HANDLE(WINAPI*)(LPCWSTR name, ULONG flags);
using AddToBoundaryDescriptorFunction = BOOL(WINAPI*)(HANDLE* boundary, PSID sid);
using DeleteBoundaryDescriptorFunction = VOID(WINAPI*)(HANDLE boundary);
using CreatePrivateNamespaceWFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES attributes,
                                                        LPVOID boundary, LPCWSTR prefix);
using ClosePrivateNamespaceFunction = BOOLEAN(WINAPI*)(HANDLE nameSpace, ULONG flags);

void FreeLocal(void* memory) { ::LocalFree(memory); }
using unique_local = win32::UniqueResource<void*, FreeLocal, 0>;

// A SID or a security descriptor from its text form, owned.
unique_local Sid(const wchar_t* text) {
    unique_local sid;
    ::ConvertStringSidToSidW(text, reinterpret_cast<PSID*>(sid.put()));
    return sid;
}

}  // namespace

CallResult CreateAdministratorsNamespace(const std::wstring& prefix, Handle& nameSpace) {
    const auto createBoundary =
        win32::Kernel32Function<CreateBoundaryDescriptorWFunction>("CreateBoundaryDescriptorW");
    const auto addSid =
        win32::Kernel32Function<AddToBoundaryDescriptorFunction>("AddSIDToBoundaryDescriptor");
    const auto deleteBoundary =
        win32::Kernel32Function<DeleteBoundaryDescriptorFunction>("DeleteBoundaryDescriptor");
    const auto createNamespace =
        win32::Kernel32Function<CreatePrivateNamespaceWFunction>("CreatePrivateNamespaceW");
    if (!createBoundary || !addSid || !deleteBoundary || !createNamespace)
        return CallResult{false, ERROR_PROC_NOT_FOUND};

    // Each addition may put a larger descriptor in its place: the one
    // deleted at the end is the one the variable holds then.
    HANDLE boundary = createBoundary(prefix.c_str(), 0);
    if (!boundary) return CallResult{false, ::GetLastError()};
    struct Deleted {
        HANDLE& boundary;
        DeleteBoundaryDescriptorFunction deleteBoundary;
        ~Deleted() { deleteBoundary(boundary); }
    } deleted{boundary, deleteBoundary};
    // Only a process with the Administrators group enabled is inside; from
    // Windows 7 on also only one of high integrity or above ("equal to or
    // lower than the current integrity level of the process"), which the
    // system account is.
    const unique_local administrators = Sid(L"S-1-5-32-544");
    if (!administrators || !addSid(&boundary, administrators.get()))
        return CallResult{false, ::GetLastError()};
    if (const auto addLabel = win32::Kernel32Function<AddToBoundaryDescriptorFunction>(
            "AddIntegrityLabelToBoundaryDescriptor")) {
        const unique_local high = Sid(L"S-1-16-12288");
        if (!high || !addLabel(&boundary, high.get())) return CallResult{false, ::GetLastError()};
    }

    // Whoever is outside the boundary may still open a namespace that exists,
    // unless its DACL shuts them out: administrators and the system only.
    unique_local security;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;;GA;;;BA)(A;;GA;;;SY)", SDDL_REVISION_1,
            reinterpret_cast<PSECURITY_DESCRIPTOR*>(security.put()), nullptr))
        return CallResult{false, ::GetLastError()};
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security.get(), FALSE};
    HANDLE made = createNamespace(&attributes, boundary, prefix.c_str());
    if (!made) return CallResult{false, ::GetLastError()};
    nameSpace = reinterpret_cast<Handle>(made);
    return CallResult{true, 0};
}

CallResult CallerIsAdministrator(bool& member) {
    // A null token: the thread's impersonation token, or a copy of the
    // process's own as one. "If the SID is present and has the
    // SE_GROUP_ENABLED attribute, IsMember returns TRUE"; deny-only is not.
    const unique_local administrators = Sid(L"S-1-5-32-544");
    BOOL isMember = FALSE;
    if (!administrators || !::CheckTokenMembership(nullptr, administrators.get(), &isMember))
        return CallResult{false, ::GetLastError()};
    member = isMember != FALSE;
    return CallResult{true, 0};
}

void ClosePrivateNamespace(Handle nameSpace) {
    if (const auto close =
            win32::Kernel32Function<ClosePrivateNamespaceFunction>("ClosePrivateNamespace"))
        close(reinterpret_cast<HANDLE>(nameSpace), 0);
}

}  // namespace os
