// What only Windows itself (Wine) can show, run in this process: the thread
// runtime's timed waits, linked as Corvane.exe links them (GetTickCount64
// replaced for XP), and a hidden program that asks a question.
#include <windows.h>

#include "common/launcher.h"

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

}  // namespace
