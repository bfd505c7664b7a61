// The service control manager: the start type of a service, read and changed.
#include "os/os.h"

#include <windows.h>

#include <vector>

namespace os {

namespace {

SC_HANDLE ToServiceHandle(Handle handle) { return reinterpret_cast<SC_HANDLE>(handle); }

CallResult FailedWithLastError() { return CallResult{false, ::GetLastError()}; }

}  // namespace

CallResult OpenSCManagerW(uint32_t desiredAccess, Handle& manager) {
    const SC_HANDLE opened = ::OpenSCManagerW(nullptr, nullptr, desiredAccess);
    if (!opened) return FailedWithLastError();
    manager = reinterpret_cast<Handle>(opened);
    return CallResult{true, 0};
}

CallResult OpenServiceW(Handle manager, const std::wstring& serviceName, uint32_t desiredAccess,
                        Handle& service) {
    const SC_HANDLE opened =
        ::OpenServiceW(ToServiceHandle(manager), serviceName.c_str(), desiredAccess);
    if (!opened) return FailedWithLastError();
    service = reinterpret_cast<Handle>(opened);
    return CallResult{true, 0};
}

CallResult QueryServiceConfigW(Handle service, ServiceConfig& config) {
    // The first call asks for the size: the record carries the service's
    // strings after it (at most 8 KB).
    DWORD needed = 0;
    if (!::QueryServiceConfigW(ToServiceHandle(service), nullptr, 0, &needed) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return FailedWithLastError();
    std::vector<QUERY_SERVICE_CONFIGW> buffer(needed / sizeof(QUERY_SERVICE_CONFIGW) + 1);
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(QUERY_SERVICE_CONFIGW));
    if (!::QueryServiceConfigW(ToServiceHandle(service), buffer.data(), size, &needed))
        return FailedWithLastError();
    config.startType = buffer[0].dwStartType;
    return CallResult{true, 0};
}

CallResult ChangeServiceConfigW(Handle service, uint32_t startType) {
    if (!::ChangeServiceConfigW(ToServiceHandle(service), SERVICE_NO_CHANGE, startType,
                                SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr))
        return FailedWithLastError();
    return CallResult{true, 0};
}

void CloseServiceHandle(Handle handle) { ::CloseServiceHandle(ToServiceHandle(handle)); }

}  // namespace os
