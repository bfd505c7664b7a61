// Stands in for WMI's client library (wbemprox.dll) in a test prefix, where
// Wine's own never fails and never hangs. Its locator's ConnectServer, by
// CORVANE_WMI_STAND_IN: "missing" fails every connection as a repository
// without the namespace does, "slow" does so after four seconds; "hang"
// fails the first connection of a process (the listing before a request)
// and never returns from the others (the request), as a hung WMI does. Each
// call leaves a line on the debugger output.
#include <windows.h>
// After windows.h, which it relies on.
#include <wbemidl.h>

#include <cstdio>

namespace {

LONG g_connections = 0;

class Locator : public IWbemLocator {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = iid == IID_IUnknown || iid == IID_IWbemLocator ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // static: never freed
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE ConnectServer(BSTR, BSTR, BSTR, BSTR, long, BSTR, IWbemContext*,
                                            IWbemServices**) override {
        const LONG connection = ::InterlockedIncrement(&g_connections);
        char mode[16] = {};
        ::GetEnvironmentVariableA("CORVANE_WMI_STAND_IN", mode, sizeof mode);
        char line[64];
        std::snprintf(line, sizeof line, "wmi stand-in: connection %ld (%s)", connection, mode);
        ::OutputDebugStringA(line);
        if (::lstrcmpA(mode, "hang") == 0 && connection > 1) ::Sleep(INFINITE);
        if (::lstrcmpA(mode, "slow") == 0) ::Sleep(4000);
        return WBEM_E_INVALID_NAMESPACE;
    }
};

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = iid == IID_IUnknown || iid == IID_IClassFactory ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        static Locator locator;
        if (outer) return CLASS_E_NOAGGREGATION;
        return locator.QueryInterface(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    static Factory factory;
    *object = nullptr;
    if (clsid != CLSID_WbemLocator) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, object);
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }
