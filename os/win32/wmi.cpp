// The WMI method call through the client interfaces (IWbemServices).
#include "os/win32/wmi.h"

#include "os/os.h"
#include "os/win32/handles.h"

#include <process.h>

#include <atomic>
#include <functional>
#include <memory>

namespace win32 {

namespace {

// The thread's own function. What it shares with its caller is the work's
// to keep; nothing it throws may end the process.
unsigned __stdcall RunWork(void* work) {
    const std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(work));
    try {
        (*owned)();
    } catch (...) {
        // The caller reads what the work left, its defaults where it failed.
    }
    return 0;
}

// Set once a work was left running: it may hold locks the process's end
// would wait for.
std::atomic<bool> g_workLeftBehind{false};

HRESULT LeftBehind(HRESULT why) {
    g_workLeftBehind = true;
    return why;
}

// The value as the type asked for; S_FALSE where it is null.
HRESULT Converted(VARIANT* value, VARTYPE type) {
    if (value->vt == VT_NULL || value->vt == VT_EMPTY) return S_FALSE;
    return ::VariantChangeType(value, value, 0, type);
}

}  // namespace

HRESULT RunWithinLimit(std::function<void()> work, uint32_t limitMs) {
    // Once the session ends nothing new starts, and nothing is waited for.
    if (os::SessionEndHeard() != os::SessionEnd::None) return E_ABORT;
    // A thread that uses the C runtime is started by it.
    auto* handedOver = new std::function<void()>(std::move(work));
    _doserrno = 0;  // never reset by the runtime itself
    const win32::UniqueResource<HANDLE, ::CloseHandle, 0> thread(
        reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, RunWork, handedOver, 0, nullptr)));
    if (!thread) {
        const unsigned long error = _doserrno;
        delete handedOver;
        return error != 0 ? HRESULT_FROM_WIN32(error) : E_OUTOFMEMORY;
    }
    const DWORD start = ::GetTickCount();
    // A work that has ended counts, whatever came meanwhile.
    for (;;) {
        os::DispatchPendingMessages();
        const DWORD waited = ::GetTickCount() - start;  // right across the wrap
        if (limitMs != 0 && waited >= limitMs) return LeftBehind(WBEM_E_TIMED_OUT);
        const DWORD slice = limitMs != 0 && limitMs - waited < 100 ? limitMs - waited : 100;
        switch (os::WaitForObjectOrInput(reinterpret_cast<os::Handle>(thread.get()), slice)) {
        case os::WaitResult::Signalled:
            return S_OK;
        case os::WaitResult::Failed:
            return LeftBehind(HRESULT_FROM_WIN32(::GetLastError()));
        default:
            break;
        }
        if (os::SessionEndHeard() != os::SessionEnd::None) return LeftBehind(E_ABORT);
    }
}

bool WorkLeftBehind() { return g_workLeftBehind; }

const wchar_t* const kRestorePointProperties[4] = {L"SequenceNumber", L"CreationTime",
                                                   L"Description", L"RestorePointType"};

HRESULT CollectRestorePoint(win32::ScopedVariant (&properties)[4],
                            std::vector<os::RestorePoint>& points) {
    // A uint32 arrives as VT_I4 holding the same bits.
    const VARTYPE types[4] = {VT_I4, VT_BSTR, VT_BSTR, VT_I4};
    for (int i = 0; i < 4; ++i) {
        const HRESULT hr = Converted(properties[i].get(), types[i]);
        if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
    }
    const auto text = [&properties](int i) {
        const BSTR value = properties[i].get()->bstrVal;
        return std::wstring(value ? value : L"");
    };
    points.push_back({static_cast<uint32_t>(properties[0].get()->lVal), text(1), text(2),
                      properties[3].get()->lVal});
    return S_OK;
}

}  // namespace win32

namespace os {

namespace {

// How long the listing waits for each instance; a healthy WMI takes seconds.
constexpr long kLongestListingWaitMs = 2 * 60 * 1000;

// The WMI layer's own text for one of its status codes, as the scripting
// layer shows it. Other codes (access denied, class not registered) are
// Windows' own and left to its message table.
std::wstring WmiErrorText(HRESULT hr) {
    if (HRESULT_FACILITY(hr) != FACILITY_ITF) return {};
    win32::ComPtr<IWbemStatusCodeText> statusText;
    win32::ScopedBstr text;
    if (SUCCEEDED(::CoCreateInstance(CLSID_WbemStatusCodeText, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IWbemStatusCodeText, statusText.put_void())) &&
        SUCCEEDED(statusText->GetErrorCodeText(hr, 0, 0, text.put())) && text.get() &&
        text.get()[0] != L'\0') {
        return text.get();
    }
    return {};
}

WmiOutcome Raised(HRESULT hr) {
    WmiOutcome outcome;
    outcome.status = WmiStatus::Raised;
    outcome.errorCode = static_cast<int32_t>(hr);
    outcome.errorDescription = WmiErrorText(hr);
    return outcome;
}

// The VARIANT type that holds a value of a declared CIM type, for the types
// Corvane passes; any other type is left to the class.
VARTYPE VariantTypeOf(CIMTYPE declared, VARTYPE given) {
    switch (declared) {
    case CIM_BOOLEAN:
        return VT_BOOL;
    case CIM_STRING:
        return VT_BSTR;
    case CIM_SINT8:
    case CIM_UINT8:
    case CIM_SINT16:
    case CIM_UINT16:
    case CIM_SINT32:
    case CIM_UINT32:
        return VT_I4;
    default:
        return given;
    }
}

// IWbemClassObject::Put promises no conversion: a value of another type than
// the parameter's fails, so it is converted first. CIM_EMPTY: not declared.
HRESULT PutArgument(IWbemClassObject* inParams, const WmiArgument& argument, CIMTYPE declared) {
    win32::ScopedVariant value;
    if (const auto* text = std::get_if<std::wstring>(&argument.value)) {
        value.get()->vt = VT_BSTR;
        value.get()->bstrVal = ::SysAllocString(text->c_str());
        if (!value.get()->bstrVal) return E_OUTOFMEMORY;
    } else if (const auto* flag = std::get_if<bool>(&argument.value)) {
        value.get()->vt = VT_BOOL;
        value.get()->boolVal = *flag ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
        value.get()->vt = VT_I4;
        value.get()->lVal = std::get<int32_t>(argument.value);
    }
    const VARTYPE wanted = VariantTypeOf(declared, value.get()->vt);
    if (wanted != value.get()->vt) {
        const HRESULT hr = ::VariantChangeType(value.get(), value.get(), 0, wanted);
        if (FAILED(hr)) return hr;
    }
    return inParams->Put(argument.name.c_str(), 0, value.get(), 0);
}

// Every proxy gets its own security ("Setting the Security on IWbemServices
// and Other Proxies"): the services and each enumerator alike.
HRESULT SetBlanket(IUnknown* proxy, DWORD impersonationLevel) {
    const HRESULT hr =
        ::CoSetProxyBlanket(proxy, RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_DEFAULT, nullptr,
                            RPC_C_AUTHN_LEVEL_DEFAULT, impersonationLevel, nullptr, EOAC_NONE);
    // E_NOINTERFACE: an in-process provider has no proxy to configure.
    return hr == E_NOINTERFACE ? S_OK : hr;
}

// The namespace of the local computer, reached with the given impersonation
// level. COM must be up on the calling thread.
HRESULT Connect(const std::wstring& nameSpacePath, DWORD impersonationLevel,
                win32::ComPtr<IWbemServices>& services) {
    win32::ComPtr<IWbemLocator> locator;
    HRESULT hr = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWbemLocator, locator.put_void());
    if (FAILED(hr)) return hr;

    // Without a limit the call returns "only after connection to the server
    // is established", which a hung WMI never does. The limit exists from
    // Vista on; XP's ConnectServer knows no such flag.
    VersionInfo version;
    const bool vistaOrLater = GetVersionExA(version).ok && version.majorVersion >= 6;
    const long flags = vistaOrLater ? static_cast<long>(WBEM_FLAG_CONNECT_USE_MAX_WAIT) : 0;
    const std::wstring path = L"\\\\.\\" + nameSpacePath;
    win32::ScopedBstr nameSpace(path.c_str());
    hr = locator->ConnectServer(nameSpace.get(), nullptr, nullptr, nullptr, flags, nullptr, nullptr,
                                services.put());
    if (FAILED(hr)) return hr;
    return SetBlanket(services.get(), impersonationLevel);
}

// The CIM type that the method's signature declares for the parameter;
// false when it declares no such parameter.
bool DeclaredType(IWbemClassObject* signature, const std::wstring& name, CIMTYPE& type) {
    win32::ScopedVariant value;
    return SUCCEEDED(signature->Get(name.c_str(), 0, value.put(), &type, nullptr));
}

// The call itself, on the thread that RunWithinLimit starts.
WmiOutcome InvokeNow(const WmiMethodCall& call) {
    win32::ScopedComInit com(COINIT_MULTITHREADED);
    if (!com.ok()) return Raised(com.result());

    win32::ComPtr<IWbemServices> services;
    HRESULT hr = Connect(call.nameSpace,
                         call.impersonate ? RPC_C_IMP_LEVEL_IMPERSONATE : RPC_C_IMP_LEVEL_IDENTIFY,
                         services);
    if (FAILED(hr)) return Raised(hr);

    win32::ScopedBstr className(call.className.c_str());
    win32::ComPtr<IWbemClassObject> classObject;
    hr = services->GetObject(className.get(), 0, nullptr, classObject.put(), nullptr);
    if (FAILED(hr)) return Raised(hr);

    win32::ComPtr<IWbemClassObject> signature;
    hr = classObject->GetMethod(call.method.c_str(), 0, signature.put(), nullptr);
    if (FAILED(hr)) return Raised(hr);

    win32::ComPtr<IWbemClassObject> inParams;
    if (signature) {
        hr = signature->SpawnInstance(0, inParams.put());
        if (FAILED(hr)) return Raised(hr);
        for (const WmiArgument& argument : call.arguments) {
            CIMTYPE type = CIM_EMPTY;
            if (!DeclaredType(signature.get(), argument.name, type)) {
                if (call.onlyDeclaredArguments) continue;
                type = CIM_EMPTY;
            }
            hr = PutArgument(inParams.get(), argument, type);
            if (FAILED(hr)) return Raised(hr);
        }
    }

    win32::ScopedBstr method(call.method.c_str());
    win32::ComPtr<IWbemClassObject> outParams;
    hr = services->ExecMethod(className.get(), method.get(), 0, nullptr, inParams.get(),
                              outParams.put(), nullptr);
    if (FAILED(hr)) return Raised(hr);

    WmiOutcome outcome;
    outcome.status = WmiStatus::NoValue;
    if (!outParams) return outcome;

    win32::ScopedVariant returnValue;
    if (FAILED(outParams->Get(L"ReturnValue", 0, returnValue.put(), nullptr, nullptr)))
        return outcome;
    if (returnValue.get()->vt == VT_EMPTY || returnValue.get()->vt == VT_NULL) return outcome;
    if (FAILED(::VariantChangeType(returnValue.get(), returnValue.get(), 0, VT_I4))) return outcome;

    outcome.status = WmiStatus::Returned;
    outcome.returnValue = returnValue.get()->lVal;
    return outcome;
}

RestorePointList ListNow() {
    RestorePointList list;
    const HRESULT hr = win32::ForEachWmiInstance(
        L"root\\default",
        L"SELECT SequenceNumber, CreationTime, Description, RestorePointType FROM SystemRestore",
        [&list](IWbemClassObject* instance) {
            win32::ScopedVariant properties[4];
            for (int i = 0; i < 4; ++i) {
                const HRESULT hr = instance->Get(win32::kRestorePointProperties[i], 0,
                                                 properties[i].put(), nullptr, nullptr);
                if (FAILED(hr)) return hr;
            }
            return win32::CollectRestorePoint(properties, list.points);
        });
    if (FAILED(hr)) return RestorePointList{false, static_cast<int32_t>(hr), {}};
    list.ok = true;
    return list;
}

}  // namespace

WmiOutcome InvokeWmiMethod(const WmiMethodCall& call) {
    // Not Raised(): its text would need COM, which is the worker's.
    return win32::ResultWithinLimit<WmiOutcome>(
        [call] { return InvokeNow(call); }, call.limitMs,
        [](HRESULT hr) {
            return WmiOutcome{WmiStatus::Raised, 0, static_cast<int32_t>(hr), {}};
        });
}

RestorePointList ListRestorePoints(uint32_t limitMs) {
    return win32::ResultWithinLimit<RestorePointList>(ListNow, limitMs, [](HRESULT hr) {
        return RestorePointList{false, static_cast<int32_t>(hr), {}};
    });
}

}  // namespace os

HRESULT win32::ForEachWmiInstance(const std::wstring& nameSpace, const std::wstring& query,
                                  const std::function<HRESULT(IWbemClassObject*)>& visit) {
    win32::ScopedComInit com(COINIT_MULTITHREADED);
    HRESULT hr = com.ok() ? S_OK : com.result();
    win32::ComPtr<IWbemServices> services;
    if (SUCCEEDED(hr)) hr = os::Connect(nameSpace, RPC_C_IMP_LEVEL_IMPERSONATE, services);

    win32::ComPtr<IEnumWbemClassObject> instances;
    if (SUCCEEDED(hr)) {
        win32::ScopedBstr language(L"WQL");
        win32::ScopedBstr text(query.c_str());
        hr = services->ExecQuery(language.get(), text.get(),
                                 WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                 instances.put());
    }
    // The enumerator is a proxy of its own: without the blanket WMI may
    // refuse Next, and whether a new point was listed could not be checked.
    if (SUCCEEDED(hr)) hr = os::SetBlanket(instances.get(), RPC_C_IMP_LEVEL_IMPERSONATE);
    if (SUCCEEDED(hr)) hr = win32::VisitEnumeration(instances.get(), visit);
    return hr;
}

HRESULT win32::VisitEnumeration(IEnumWbemClassObject* instances,
                                const std::function<HRESULT(IWbemClassObject*)>& visit) {
    constexpr ULONG kBatch = 16;
    for (;;) {
        IWbemClassObject* batch[kBatch] = {};
        ULONG returned = 0;
        HRESULT hr = instances->Next(os::kLongestListingWaitMs, kBatch, batch, &returned);
        // Each object returned is ours to release, whatever Next said.
        win32::ComPtr<IWbemClassObject> owned[kBatch];
        for (ULONG i = 0; i < returned && i < kBatch; ++i) *owned[i].put() = batch[i];
        if (FAILED(hr)) return hr;
        // A time-out is a success code; the list is then incomplete.
        if (hr == WBEM_S_TIMEDOUT) return static_cast<HRESULT>(WBEM_E_TIMED_OUT);
        // WBEM_S_FALSE ends the enumeration, but may come with the last
        // objects: they are visited first.
        for (ULONG i = 0; i < returned && i < kBatch; ++i) {
            const HRESULT visited = visit(owned[i].get());
            if (FAILED(visited)) return visited;
        }
        if (hr == WBEM_S_FALSE || returned == 0) return S_OK;
    }
}
