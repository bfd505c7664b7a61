// The service control manager, answered by the simulated machine. It keeps
// the rules Corvane depends on: a service is opened through an open manager,
// the access asked for at opening decides what may be done with the handle,
// and every handle is counted until CloseServiceHandle.
#include "os/os.h"
#include "os/sim/machine.h"

namespace os {

namespace {

constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;

sim::ServiceManager& Manager() { return sim::machine().serviceManager; }

CallResult Fail(uint32_t lastError) { return CallResult{false, lastError}; }

Handle NewServiceHandle(const std::wstring& service, uint32_t access) {
    sim::Machine& m = sim::machine();
    const Handle handle = m.nextHandle;
    m.nextHandle += 4;
    Manager().openHandles[handle] = sim::ServiceHandle{service, access};
    return handle;
}

// The open service behind a handle with the access a call needs, or null
// with the error Windows gives.
sim::Service* OpenedService(Handle handle, uint32_t access, uint32_t& error) {
    const auto open = Manager().openHandles.find(handle);
    if (open == Manager().openHandles.end() || open->second.service.empty()) {
        error = kErrorInvalidHandle;
        return nullptr;
    }
    if ((open->second.access & access) != access) {
        error = kErrorAccessDenied;
        return nullptr;
    }
    return &Manager().services.at(open->second.service);
}

}  // namespace

CallResult OpenSCManagerW(uint32_t desiredAccess, Handle& manager) {
    if (Manager().managerOpen.fails) return Fail(Manager().managerOpen.lastError);
    manager = NewServiceHandle(L"", desiredAccess);
    return CallResult{true, 0};
}

CallResult OpenServiceW(Handle manager, const std::wstring& serviceName, uint32_t desiredAccess,
                        Handle& service) {
    const auto open = Manager().openHandles.find(manager);
    if (open == Manager().openHandles.end() || !open->second.service.empty())
        return Fail(kErrorInvalidHandle);
    const auto found = Manager().services.find(serviceName);
    if (found == Manager().services.end()) return Fail(kErrorServiceDoesNotExist);
    if (found->second.open.fails) return Fail(found->second.open.lastError);
    // Anyone may read a service's configuration; only administrators change it.
    if ((desiredAccess & kServiceChangeConfig) && !sim::machine().administrator) return Fail(5);
    service = NewServiceHandle(found->first, desiredAccess);
    return CallResult{true, 0};
}

CallResult QueryServiceConfigW(Handle service, ServiceConfig& config) {
    uint32_t error = 0;
    const sim::Service* opened = OpenedService(service, kServiceQueryConfig, error);
    if (!opened) return Fail(error);
    if (opened->query.fails) return Fail(opened->query.lastError);
    config.startType = opened->startType;
    return CallResult{true, 0};
}

CallResult ChangeServiceConfigW(Handle service, uint32_t startType) {
    uint32_t error = 0;
    sim::Service* opened = OpenedService(service, kServiceChangeConfig, error);
    if (!opened) return Fail(error);
    if (opened->change.fails) return Fail(opened->change.lastError);
    opened->startType = startType;
    const sim::Machine& m = sim::machine();
    Manager().changes.push_back(sim::ServiceChange{Manager().openHandles.at(service).service,
                                                   startType, m.processes.size(),
                                                   m.otherWmiCalls.size()});
    return CallResult{true, 0};
}

void CloseServiceHandle(Handle handle) {
    if (Manager().openHandles.erase(handle) == 0) ++Manager().invalidCloses;
}

}  // namespace os
