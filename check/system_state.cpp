#include "check/system_state.h"

#include "app/workflow.h"
#include "common/handle.h"
#include "common/redirection.h"
#include "os/os.h"
#include "os/win32/handles.h"
#include "os/win32/wmi.h"

namespace check {

namespace {

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

// A property of an instance as a number, or as text.
int32_t Number(IWbemClassObject* instance, const wchar_t* name, HRESULT& hr) {
    win32::ScopedVariant value;
    if (SUCCEEDED(hr)) hr = instance->Get(name, 0, value.put(), nullptr, nullptr);
    if (SUCCEEDED(hr)) hr = ::VariantChangeType(value.get(), value.get(), 0, VT_I4);
    return SUCCEEDED(hr) ? value.get()->lVal : 0;
}

std::wstring Text(IWbemClassObject* instance, const wchar_t* name, HRESULT& hr) {
    win32::ScopedVariant value;
    if (SUCCEEDED(hr)) hr = instance->Get(name, 0, value.put(), nullptr, nullptr);
    if (SUCCEEDED(hr) && (value.get()->vt == VT_NULL || value.get()->vt == VT_EMPTY)) return {};
    if (SUCCEEDED(hr)) hr = ::VariantChangeType(value.get(), value.get(), 0, VT_BSTR);
    return SUCCEEDED(hr) && value.get()->bstrVal ? value.get()->bstrVal : L"";
}

void ReadRestorePoints(SystemState& state) {
    const HRESULT hr = win32::ForEachWmiInstance(
        L"root\\default",
        L"SELECT SequenceNumber, Description, RestorePointType FROM SystemRestore",
        [&state](IWbemClassObject* instance) {
            HRESULT got = S_OK;
            RestorePoint point;
            point.sequenceNumber = static_cast<uint32_t>(Number(instance, L"SequenceNumber", got));
            point.description = Text(instance, L"Description", got);
            point.type = Number(instance, L"RestorePointType", got);
            if (SUCCEEDED(got)) state.points.push_back(point);
            return got;
        });
    state.pointsListed = SUCCEEDED(hr);
    state.pointsError = static_cast<int32_t>(hr);
}

SystemState::Service ReadService(os::Handle manager, uint32_t managerError, const wchar_t* name) {
    SystemState::Service service{name, managerError, 0};
    if (managerError != 0) return service;
    os::Handle opened = 0;
    os::CallResult result = os::OpenServiceW(manager, name, os::kServiceQueryConfig, opened);
    if (!result.ok) {
        service.error = result.lastError;
        return service;
    }
    const CommonModule::UniqueServiceHandle owned(opened);
    os::ServiceConfig config;
    result = os::QueryServiceConfigW(owned.get(), config);
    service.error = result.ok ? 0 : result.lastError;
    service.startType = config.startType;
    return service;
}

}  // namespace

Machine ReadMachine() {
    Machine machine;
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (::GetComputerNameW(name, &size)) machine.computer = name;
    ReadVersion(machine);
    machine.is64Bit = CommonModule::Is64bitWindows();
    machine.elevated = Elevated();
    machine.desktopVisible = !Module1::NobodyCanSeeTheDesktop();
    return machine;
}

SystemState ReadSystemState() {
    SystemState state;
    ReadRestorePoints(state);
    os::RegistryValue frequency;
    state.frequencyError =
        os::RegistryQueryValue(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore",
                               L"SystemRestorePointCreationFrequency", frequency);
    state.frequencyType = frequency.type;
    state.frequencyData = frequency.data;
    os::Handle opened = 0;
    const os::CallResult manager = os::OpenSCManagerW(os::kScManagerConnect, opened);
    const CommonModule::UniqueServiceHandle owned(manager.ok ? opened : 0);
    for (const wchar_t* name : {L"VSS", L"swprv"})
        state.services.push_back(
            ReadService(owned.get(), manager.ok ? 0 : manager.lastError, name));
    return state;
}

}  // namespace check
