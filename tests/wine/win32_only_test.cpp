// What only Windows itself (Wine) can show, run in this process: the thread
// runtime's timed waits, linked as Corvane.exe links them (GetTickCount64
// replaced for XP), a hidden program that asks a question, and WMI method
// arguments of the declared type.
#include <windows.h>

#include "common/launcher.h"
#include "os/os.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// A wrong replacement makes a timed wait end at once or never; a wrong
// calling convention crashes it.
TEST(ThreadRuntime, TimedWaitsTakeAboutAsLongAsAsked) {
    std::mutex mutex;
    std::condition_variable condition;
    bool ready = false;
    std::unique_lock<std::mutex> lock(mutex);
    DWORD start = ::GetTickCount();
    EXPECT_EQ(condition.wait_for(lock, std::chrono::milliseconds(300)), std::cv_status::timeout);
    const DWORD timedOut = ::GetTickCount() - start;
    EXPECT_TRUE(timedOut + 20 >= 300 && timedOut < 4000) << timedOut;

    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::lock_guard<std::mutex> guard(mutex);
        ready = true;
        condition.notify_one();
    });
    start = ::GetTickCount();
    EXPECT_TRUE(condition.wait_for(lock, std::chrono::seconds(30), [&] { return ready; }));
    lock.unlock();
    waker.join();
    EXPECT_LT(::GetTickCount() - start, 4000u) << "woken long before the time is up";
}

// ctest gives this program a standard input that never ends, which a
// console program started without its own would read from.
TEST(Launcher, AHiddenQuestionReadsEndOfFileAndTheRunGoesOn) {
    ASSERT_EQ(::GetFileType(::GetStdHandle(STD_INPUT_HANDLE)), static_cast<DWORD>(FILE_TYPE_PIPE))
        << "run with an open pipe as standard input";
    const DWORD start = ::GetTickCount();
    int32_t slot = -1;
    EXPECT_TRUE(CommonModule::ShellX(L"cmd.exe", L"/c set /p answer=", true, 0, slot, false));
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
    EXPECT_EQ(outcome.returnValue, 0);
    HKEY created = nullptr;
    EXPECT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &created), ERROR_SUCCESS);
    ::RegCloseKey(created);
    ::RegDeleteKeyW(HKEY_CURRENT_USER, key);
}

}  // namespace
