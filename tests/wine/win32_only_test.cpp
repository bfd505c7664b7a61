// What only Windows itself (Wine) shows, in this process: the runtime's timed waits with
// Corvane.exe's GetTickCount64 replacement, a hidden program's question, WMI arguments of
// the declared type, and the Windows facts that the simulated machine is built on.
#include <windows.h>

#include "base/launcher.h"
#include "base/redirection.h"
#include "os/os.h"
#include "os/win32/handles.h"
#include "os/win32/wmi.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// A wrong replacement makes a timed wait end at once or never; a wrong
// calling convention crashes it.
TEST(ThreadRuntime, TimedWaitsTakeAboutAsLongAsAsked) {
    std::mutex mutex;
    std::condition_variable condition;
    std::unique_lock<std::mutex> lock(mutex);
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(condition.wait_for(lock, std::chrono::milliseconds(300)), std::cv_status::timeout);
    const DWORD waited = ::GetTickCount() - start;
    EXPECT_TRUE(waited + 20 >= 300 && waited < 4000) << waited;
}

// ctest gives this program a standard input that never ends, which a
// console program started without its own would read from.
TEST(Launcher, AHiddenQuestionReadsEndOfFileAndTheRunGoesOn) {
    ASSERT_EQ(::GetFileType(::GetStdHandle(STD_INPUT_HANDLE)), static_cast<DWORD>(FILE_TYPE_PIPE))
        << "run with an open pipe as standard input";
    const DWORD start = ::GetTickCount();
    int32_t slot = -1;
    EXPECT_TRUE(base::RunProgram(L"cmd.exe", L"/c set /p answer=",
                                 {base::Start::Wait::UntilItEnds, base::Start::Window::Hidden},
                                 slot));
    EXPECT_LT(::GetTickCount() - start, 20000u) << "waited for an answer";
    EXPECT_NE(slot, -1);
}

// Each argument is put as the type the method's signature declares, read
// from the signature; an undeclared one stays out. Wine declares no boolean
// parameter anywhere, and its Put wants VT_UI4 for a uint32 where Windows
// documents VT_I4, so this is a method of sint32 and string parameters.
TEST(Wmi, ArgumentsArePutAsTheSignatureDeclaresThem) {
    const wchar_t* const key = L"Software\\Corvane typed arguments";
    os::WmiMethodCall call{L"root\\default", L"StdRegProv", L"CreateKey", true, {}, true};
    call.arguments = {{L"hDefKey", static_cast<int32_t>(0x80000001u)},  // HKEY_CURRENT_USER
                      {L"sSubKeyName", key},
                      {L"NotDeclared", true}};
    const os::WmiOutcome outcome = os::InvokeWmiMethod(call);
    EXPECT_EQ(outcome.status, os::WmiStatus::Returned) << std::hex << outcome.errorCode;
    EXPECT_EQ(outcome.returnValue, 0) << "the key was not created";
    ::RegDeleteKeyW(HKEY_CURRENT_USER, key);
}

// WMI runs on a thread of its own: the wait ends with the work and takes
// what it made, or at the limit with the time-out, while the work goes on
// without it and what it leaves is never read.
TEST(Wmi, TheWaitForAWmiCallEndsAtItsLimit) {
    struct Case {
        DWORD workMs;
        uint32_t limitMs;
        HRESULT result;
        DWORD atLeastMs, atMostMs;
    };
    const Case cases[] = {{0, 0, 7, 0, 1000},
                          {300, 5000, 7, 290, 2000},
                          {3000, 400, static_cast<HRESULT>(WBEM_E_TIMED_OUT), 390, 2000}};
    for (const Case& c : cases) {
        const DWORD start = ::GetTickCount();
        const auto work = [c] { return ::Sleep(c.workMs), HRESULT{7}; };
        EXPECT_EQ(win32::ResultWithinLimit<HRESULT>(work, c.limitMs, [](HRESULT hr) { return hr; }),
                  c.result);
        const DWORD waited = ::GetTickCount() - start;
        EXPECT_TRUE(waited >= c.atLeastMs && waited <= c.atMostMs) << waited;
    }
}

// A point with a null property is left out, and the listing goes on (Wine's
// instances never read as null, and its Put refuses VT_NULL).
TEST(Wmi, ARestorePointWithANullPropertyIsLeftOutOfTheList) {
    for (int null = -1; null < 4; ++null) {
        win32::ScopedVariant properties[4];
        for (int i : {0, 3}) properties[i].get()->vt = VT_I4;
        properties[0].get()->lVal = 42;
        for (int i : {1, 2}) properties[i].get()->vt = VT_BSTR;
        properties[1].get()->bstrVal = ::SysAllocString(L"20261208100000.000000-000");
        properties[2].get()->bstrVal = ::SysAllocString(L"Brindlemoor - Restore Point");
        if (null >= 0) properties[null].put()->vt = VT_NULL;
        std::vector<os::RestorePoint> points;
        EXPECT_EQ(win32::CollectRestorePoint(properties, points), S_OK) << null;
        ASSERT_EQ(points.size(), null < 0 ? 1u : 0u) << null;
        for (const os::RestorePoint& point : points)
            EXPECT_EQ(std::to_wstring(point.sequenceNumber) + L"|" + point.creationTime + L"|" +
                          point.description + L"|" + std::to_wstring(point.type),
                      L"42|20261208100000.000000-000|Brindlemoor - Restore Point|0");
    }
}

// An enumerator that answers Next from a script: how many objects (one
// real object, again and again) and with which code.
class ScriptedEnumerator : public IEnumWbemClassObject {
public:
    ScriptedEnumerator(IWbemClassObject* object, std::vector<std::pair<HRESULT, ULONG>> script)
        : object_(object), script_(std::move(script)) {}
    std::vector<long> timeouts;

    HRESULT STDMETHODCALLTYPE Next(long timeout, ULONG count, IWbemClassObject** objects,
                                   ULONG* returned) override {
        timeouts.push_back(timeout);
        const auto [hr, n] = script_.at(timeouts.size() - 1);
        for (*returned = 0; *returned < n && *returned < count; ++*returned) {
            object_->AddRef();
            objects[*returned] = object_;
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Skip(long, ULONG) override { return E_NOTIMPL; }

private:
    IWbemClassObject* object_;
    std::vector<std::pair<HRESULT, ULONG>> script_;
};

// Wine's WMI hands out one object at a time and never times out, so the
// listing loop meets the other answers here: objects that come with the
// end (WBEM_S_FALSE) are visited, a time-out fails the list, each call
// waits two minutes at most, and every object returned is released.
TEST(Wmi, TheListingVisitsWhatComesWithTheEndAndFailsOnATimeOut) {
    const win32::ScopedComInit com;
    win32::ComPtr<IWbemLocator> locator;
    win32::ComPtr<IWbemServices> services;
    win32::ComPtr<IWbemClassObject> object;
    win32::ScopedBstr space(L"root\\default"), name(L"StdRegProv");
    ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_IWbemLocator, locator.put_void()));
    ASSERT_HRESULT_SUCCEEDED(locator->ConnectServer(space.get(), nullptr, nullptr, nullptr, 0,
                                                    nullptr, nullptr, services.put()));
    ASSERT_HRESULT_SUCCEEDED(services->GetObject(name.get(), 0, nullptr, object.put(), nullptr));
    object->AddRef();
    const ULONG references = object->Release();
    struct Case {
        std::vector<std::pair<HRESULT, ULONG>> script;
        HRESULT result;
        int visits;
    };
    const Case cases[] = {
        {{{WBEM_S_NO_ERROR, 16}, {WBEM_S_FALSE, 3}}, S_OK, 19},
        {{{WBEM_S_FALSE, 0}}, S_OK, 0},
        {{{WBEM_S_NO_ERROR, 16}, {WBEM_S_TIMEDOUT, 2}}, static_cast<HRESULT>(WBEM_E_TIMED_OUT), 16},
    };
    for (const Case& c : cases) {
        ScriptedEnumerator instances(object.get(), c.script);
        int visits = 0;
        EXPECT_EQ(win32::VisitEnumeration(&instances,
                                          [&visits](IWbemClassObject*) { return ++visits, S_OK; }),
                  c.result);
        EXPECT_EQ(visits, c.visits);
        EXPECT_EQ(instances.timeouts, std::vector<long>(c.script.size(), 120000));
        object->AddRef();
        EXPECT_EQ(object->Release(), references) << "an object returned was not released";
    }
}

// A program may end with 259, STILL_ACTIVE's value: only the signalled
// handle tells the end. A handle without SYNCHRONIZE cannot be waited on.
TEST(WindowsFacts, AProgramEndingWith259AndWaitsThatNeedSynchronize) {
    const os::CreatedProcess created = os::LaunchProcess(L"", L"cmd.exe /c exit 259", L"", 0, true);
    ASSERT_EQ(created.error, 0u);
    uint32_t error = 0, exitCode = 0;
    const os::Handle process =
        os::OpenProcess(os::kProcessQueryInformation | os::kSynchronize, created.processId, error);
    ASSERT_NE(process, 0u) << error;
    os::WaitResult woke = os::WaitResult::Input;
    for (int i = 0; i < 100 && woke != os::WaitResult::Signalled; ++i) {
        os::DispatchPendingMessages();
        woke = os::WaitForObjectOrInput(process, 100);
    }
    EXPECT_EQ(woke, os::WaitResult::Signalled);
    EXPECT_TRUE(os::GetExitCodeProcess(process, exitCode));
    EXPECT_EQ(exitCode, 259u);
    const os::Handle queryOnly =
        os::OpenProcess(os::kProcessQueryInformation, created.processId, error);
    EXPECT_EQ(os::WaitForObjectOrInput(queryOnly, 0), os::WaitResult::Failed);
    for (const os::Handle handle : {queryOnly, process, created.process}) os::CloseHandle(handle);
}

// OpenFile opens no directory.
TEST(WindowsFacts, DirectoriesAreNoFiles) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring dir = std::wstring(temp) + L"corvane dir";
    ::CreateDirectoryW(dir.c_str(), nullptr);
    EXPECT_EQ(os::OpenFileExists(dir), -1);
    ::RemoveDirectoryW(dir.c_str());
}

// On 64-bit Windows a file only in the native System32 is seen by a 32-bit
// process with redirection off, or through the Sysnative alias.
TEST(WindowsFacts, System32IsRedirectedForA32BitProcess) {
    if (sizeof(void*) == 8) GTEST_SKIP() << "a 64-bit process is never redirected";
    if (!base::Is64bitWindows()) return;
    const std::wstring windows = os::EnvironmentValue(L"SystemRoot");
    const std::wstring native = windows + L"\\system32\\corvane-native-only.txt";
    uintptr_t old = 0;
    ASSERT_EQ(os::Wow64DisableFsRedirection(old), 0u);
    ::CloseHandle(
        ::CreateFileW(native.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_NE(os::OpenFileExists(native), -1);
    ASSERT_EQ(os::Wow64RevertFsRedirection(old), 0u);
    EXPECT_EQ(os::OpenFileExists(native), -1) << "SysWOW64 is seen";
    EXPECT_NE(os::OpenFileExists(windows + L"\\Sysnative\\corvane-native-only.txt"), -1);
    os::Wow64DisableFsRedirection(old);
    ::DeleteFileW(native.c_str());
    os::Wow64RevertFsRedirection(old);
}

// The shutdown privilege: a token opened for TOKEN_QUERY alone may not
// adjust it; one with TOKEN_ADJUST_PRIVILEGES may.
TEST(WindowsFacts, TheShutdownPrivilegeNeedsAdjustAccess) {
    os::TokenPrivilege shutdown{{}, 2};  // SE_PRIVILEGE_ENABLED
    ASSERT_TRUE(os::LookupPrivilegeValueA(L"SeShutdownPrivilege", shutdown.luid).ok);
    os::Handle process = 0, queryOnly = 0, token = 0;
    ASSERT_TRUE(os::GetCurrentProcess(process).ok);
    ASSERT_TRUE(os::OpenProcessToken(process, 0x8, queryOnly).ok);
    EXPECT_EQ(os::AdjustTokenPrivileges(queryOnly, shutdown, nullptr).lastError, 5u);
    ASSERT_TRUE(os::OpenProcessToken(process, 0x28, token).ok);
    EXPECT_TRUE(os::AdjustTokenPrivileges(token, shutdown, nullptr).ok);
    os::CloseHandle(queryOnly);
    os::CloseHandle(token);
}

// Keys are looked up and deleted in the native view, where a 32-bit process
// would otherwise see SOFTWARE\Wow6432Node.
TEST(WindowsFacts, RegistryKeysInTheNativeView) {
    const wchar_t* const key = L"SOFTWARE\\Corvane native view";
    HKEY opened = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY,
                                nullptr, &opened, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(opened);
    EXPECT_TRUE(os::RegistryKeyExists(key));
    // What a plain open of a 32-bit process sees; a 64-bit one asks for it.
    const REGSAM view32 = sizeof(void*) == 8 ? KEY_WOW64_32KEY : 0;
    const LONG plain = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | view32, &opened);
    if (plain == ERROR_SUCCESS) ::RegCloseKey(opened);
    EXPECT_EQ(plain == ERROR_SUCCESS, !base::Is64bitWindows());
    EXPECT_FALSE(os::RegistryKeyExists(L"SYSTEM\\CurrentControlSet\\Control\\MiniNT"));
    // Only an empty key is deleted: RegDeleteKeyEx would take its values along.
    ASSERT_EQ(os::RegistrySetValue(key, L"Kept", {os::kRegDword, {1, 0, 0, 0}}), 0u);
    EXPECT_EQ(os::RegistryDeleteKey(key), os::kErrorDirNotEmpty);
    os::RegistryValue kept;
    EXPECT_EQ(os::RegistryQueryValue(key, L"Kept", kept), 0u) << "the value went";
    ASSERT_EQ(os::RegistryDeleteValue(key, L"Kept"), 0u);
    EXPECT_EQ(os::RegistryDeleteKey(key), 0u);
    EXPECT_FALSE(os::RegistryKeyExists(key));
}

}  // namespace
