#include "check/system_state.h"

#include "base/desktop.h"
#include "os/win32/handles.h"
#include "os/win32/helpers.h"
#include "workflow/workflow.h"

#include <wbemidl.h>

#include <memory>
#include <thread>

namespace check {

namespace {

void CloseKey(HKEY key) { ::RegCloseKey(key); }
using unique_hkey = win32::UniqueResource<HKEY, CloseKey, 0>;
void CloseService(SC_HANDLE service) { ::CloseServiceHandle(service); }
using unique_service = win32::UniqueResource<SC_HANDLE, CloseService, 0>;

// RtlGetVersion tells the version as it is; GetVersionEx answers as the
// program's manifest allows.
void ReadVersion(Machine& machine) {
    using RtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto get = reinterpret_cast<RtlGetVersion>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!get || get(&version) != 0) return;
    machine.major = version.dwMajorVersion;
    machine.minor = version.dwMinorVersion;
    machine.build = version.dwBuildNumber;
}

bool Is64BitWindows() {
    if (sizeof(void*) == 8) return true;
    // IsWow64Process came with XP SP2.
    static const auto isWow64 =
        win32::Kernel32Function<decltype(&::IsWow64Process)>("IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(::GetCurrentProcess(), &wow64) && wow64;
}

// Member of the Administrators group in this token: with UAC, an
// unelevated token holds the group only for denying.
bool Elevated() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                    0, 0, 0, 0, 0, &administrators))
        return false;
    BOOL member = FALSE;
    if (!::CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
    ::FreeSid(administrators);
    return member != FALSE;
}

// Visible only on a window station that says so, outside the services'
// session 0 of Vista and later; a station that cannot be read counts as
// one nobody sees.
void ReadDesktop(Machine& machine) {
    HWINSTA station = ::GetProcessWindowStation();  // the process's, not to be closed
    USEROBJECTFLAGS flags{};
    wchar_t name[64] = L"?";
    DWORD needed = 0, session = 0;
    const bool flagsRead =
        station && ::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed);
    if (station) ::GetUserObjectInformationW(station, UOI_NAME, name, sizeof name - 2, &needed);
    const bool sessionRead = ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
    machine.desktopVisible = flagsRead && (flags.dwFlags & WSF_VISIBLE) != 0 &&
                             !(sessionRead && session == 0 && machine.major >= 6);
    machine.desktopSeen = L"window station " + std::wstring(name) + L", flags " +
                          (flagsRead ? std::to_wstring(flags.dwFlags) : std::wstring(L"not read")) +
                          L", session " +
                          (sessionRead ? std::to_wstring(session) : std::wstring(L"not read"));
    machine.corvaneSeesDesktop = !base::NobodyCanSeeTheDesktop();
}

HRESULT Blanket(IUnknown* proxy) {
    const HRESULT hr = ::CoSetProxyBlanket(proxy, RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_DEFAULT, nullptr,
                                           RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                                           nullptr, EOAC_NONE);
    return hr == E_NOINTERFACE ? S_OK : hr;  // an in-process provider has no proxy
}

HRESULT Property(IWbemClassObject* instance, const wchar_t* name, VARTYPE type,
                 win32::ScopedVariant& value) {
    HRESULT hr = instance->Get(name, 0, value.put(), nullptr, nullptr);
    if (SUCCEEDED(hr) && value.get()->vt != VT_NULL && value.get()->vt != type)
        hr = ::VariantChangeType(value.get(), value.get(), 0, type);
    return hr;
}

HRESULT ReadPoint(IWbemClassObject* instance, RestorePoint& point) {
    win32::ScopedVariant number, description, type, created;
    HRESULT hr = Property(instance, L"SequenceNumber", VT_I4, number);
    if (SUCCEEDED(hr)) hr = Property(instance, L"Description", VT_BSTR, description);
    if (SUCCEEDED(hr)) hr = Property(instance, L"RestorePointType", VT_I4, type);
    if (SUCCEEDED(hr)) hr = Property(instance, L"CreationTime", VT_BSTR, created);
    if (FAILED(hr)) return hr;
    const auto text = [](win32::ScopedVariant& v) {
        return v.get()->vt == VT_BSTR && v.get()->bstrVal ? std::wstring(v.get()->bstrVal) : L"";
    };
    point.sequenceNumber =
        number.get()->vt == VT_I4 ? static_cast<uint32_t>(number.get()->lVal) : 0;
    point.description = text(description);
    point.type = type.get()->vt == VT_I4 ? type.get()->lVal : -1;
    point.creationTime = text(created);
    return S_OK;
}

// Every restore point, in batches: Next hands back objects with
// WBEM_S_FALSE too (the last ones), and each one handed back is ours.
HRESULT ListRestorePoints(std::vector<RestorePoint>& points, long waitMs) {
    win32::ScopedComInit com(COINIT_MULTITHREADED);
    if (!com.ok()) return com.result();
    win32::ComPtr<IWbemLocator> locator;
    HRESULT hr = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWbemLocator, locator.put_void());
    win32::ScopedBstr path(L"\\\\.\\root\\default");
    win32::ComPtr<IWbemServices> services;
    // The connection's own time limit exists from Vista on; XP refuses the flag.
    if (SUCCEEDED(hr))
        hr = locator->ConnectServer(path.get(), nullptr, nullptr, nullptr,
                                    WBEM_FLAG_CONNECT_USE_MAX_WAIT, nullptr, nullptr,
                                    services.put());
    if (hr == static_cast<HRESULT>(WBEM_E_INVALID_PARAMETER))
        hr = locator->ConnectServer(path.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                    services.put());
    if (SUCCEEDED(hr)) hr = Blanket(services.get());
    win32::ComPtr<IEnumWbemClassObject> instances;
    win32::ScopedBstr language(L"WQL"),
        query(
            L"SELECT SequenceNumber, Description, RestorePointType, "
            L"CreationTime FROM SystemRestore");
    if (SUCCEEDED(hr))
        hr = services->ExecQuery(language.get(), query.get(),
                                 WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                 instances.put());
    if (SUCCEEDED(hr)) hr = Blanket(instances.get());
    constexpr ULONG kBatch = 16;
    while (SUCCEEDED(hr)) {
        IWbemClassObject* batch[kBatch] = {};
        win32::ComPtr<IWbemClassObject> owned[kBatch];
        ULONG returned = 0;
        hr = instances->Next(waitMs, kBatch, batch, &returned);
        for (ULONG i = 0; i < returned && i < kBatch; ++i) *owned[i].put() = batch[i];
        for (ULONG i = 0; i < returned && i < kBatch && SUCCEEDED(hr); ++i) {
            RestorePoint point;
            const HRESULT read = ReadPoint(owned[i].get(), point);
            if (FAILED(read)) return read;
            points.push_back(point);
        }
        if (hr == WBEM_S_TIMEDOUT) return WBEM_E_TIMED_OUT;  // the list is incomplete
        if (FAILED(hr)) return hr;
        if (hr == WBEM_S_FALSE || returned == 0) return S_OK;
    }
    return hr;
}

void ReadRestorePoints(SystemState& state, uint32_t limitMs) {
    struct Listing {
        HRESULT hr = E_FAIL;
        std::vector<RestorePoint> points;
        win32::UniqueResource<HANDLE, ::CloseHandle, 0> done{
            ::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    };
    // Shared with the worker: one that hangs in WMI is left behind with its
    // half, and the process ends it on exit.
    const auto listing = std::make_shared<Listing>();
    if (!listing->done) {
        state.pointsError = static_cast<int32_t>(HRESULT_FROM_WIN32(::GetLastError()));
        return;
    }
    std::thread([listing, limitMs] {
        listing->hr = ListRestorePoints(listing->points, static_cast<long>(limitMs));
        ::SetEvent(listing->done.get());
    }).detach();
    if (::WaitForSingleObject(listing->done.get(), limitMs) != WAIT_OBJECT_0) {
        state.pointsTimedOut = true;
        state.pointsError = static_cast<int32_t>(WBEM_E_TIMED_OUT);
        return;
    }
    state.pointsListed = SUCCEEDED(listing->hr);
    state.pointsError = static_cast<int32_t>(listing->hr);
    if (state.pointsListed) state.points = listing->points;
}

RegistryValue ReadValue(const wchar_t* subKey, const wchar_t* name, REGSAM view) {
    RegistryValue value;
    unique_hkey key;
    LONG result = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_QUERY_VALUE | view, key.put());
    DWORD type = 0, size = 0;
    // The value may grow between the two calls: ask again until it fits.
    while (result == ERROR_SUCCESS) {
        result = ::RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size);
        if (result != ERROR_SUCCESS) break;
        value.data.resize(size);
        result = ::RegQueryValueExW(key.get(), name, nullptr, &type,
                                    value.data.empty() ? nullptr : value.data.data(), &size);
        if (result == ERROR_SUCCESS) {
            value.data.resize(size);
            value.type = type;
            break;
        }
        if (result == ERROR_MORE_DATA) result = ERROR_SUCCESS;
    }
    value.error = static_cast<uint32_t>(result);
    if (result != ERROR_SUCCESS) value.data.clear();
    return value;
}

SystemState::Service ReadService(SC_HANDLE manager, DWORD managerError, const wchar_t* name) {
    SystemState::Service service{name, managerError, 0};
    if (!manager) return service;
    const unique_service opened(::OpenServiceW(manager, name, SERVICE_QUERY_CONFIG));
    DWORD needed = 0;
    // The first call asks for the size: the record carries the service's
    // strings after it.
    if (opened && !::QueryServiceConfigW(opened.get(), nullptr, 0, &needed) &&
        ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        std::vector<QUERY_SERVICE_CONFIGW> config(needed / sizeof(QUERY_SERVICE_CONFIGW) + 1);
        if (::QueryServiceConfigW(opened.get(), config.data(),
                                  static_cast<DWORD>(config.size() * sizeof config[0]), &needed)) {
            service.error = 0;
            service.startType = config[0].dwStartType;
            return service;
        }
    }
    service.error = ::GetLastError();
    return service;
}

}  // namespace

Machine ReadMachine() {
    Machine machine;
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (::GetComputerNameW(name, &size)) machine.computer = name;
    ReadVersion(machine);
    machine.is64Bit = Is64BitWindows();
    machine.elevated = Elevated();
    ReadDesktop(machine);
    return machine;
}

SystemState ReadSystemState(const Machine& machine, uint32_t limitMs) {
    SystemState state;
    ReadRestorePoints(state, limitMs);
    const wchar_t* const key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore";
    const wchar_t* const frequency = L"SystemRestorePointCreationFrequency";
    // 32-bit Windows has one view, and older ones refuse the flags.
    state.frequency = ReadValue(key, frequency, machine.is64Bit ? KEY_WOW64_64KEY : 0);
    if (machine.is64Bit) state.frequency32 = ReadValue(key, frequency, KEY_WOW64_32KEY);
    const unique_service manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const DWORD managerError = manager ? 0 : ::GetLastError();
    for (const wchar_t* name : kWatchedServices)
        state.services.push_back(ReadService(manager.get(), managerError, name));
    return state;
}

}  // namespace check
