// Timed waits of the thread runtime, linked the way Corvane.exe is: with
// the runtime's GetTickCount64 import replaced (os/win32/xp_runtime.cpp).
// A replacement that returns wrong times makes such a wait end at once or
// never; a wrong calling convention crashes it.
//
// Prints the measured times; exits 0 when every wait took about as long as
// asked.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

bool Check(const char* what, DWORD asked, DWORD took) {
    const bool ok = took + 20 >= asked && took < asked + 4000;
    std::printf("%s: asked %lu ms, took %lu ms%s\n", what, asked, took, ok ? "" : " (wrong)");
    return ok;
}

// A wait that never ends is the likeliest failure: report it rather than
// leave it to the test's time limit. Plain Win32, outside the runtime.
DWORD WINAPI Watchdog(LPVOID) {
    ::Sleep(30000);
    std::printf("a wait did not end within 30 s\n");
    std::fflush(stdout);
    ::ExitProcess(2);
}

}  // namespace

int main() {
    if (HANDLE watchdog = ::CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr))
        ::CloseHandle(watchdog);
    bool ok = true;
    std::mutex mutex;
    std::condition_variable never;
    {
        std::unique_lock<std::mutex> lock(mutex);
        const DWORD start = ::GetTickCount();
        const bool timedOut =
            never.wait_for(lock, std::chrono::milliseconds(300)) == std::cv_status::timeout;
        ok = Check("condition wait", 300, ::GetTickCount() - start) && timedOut && ok;
    }
    {
        // Woken by another thread long before the time is up.
        bool ready = false;
        std::condition_variable woken;
        std::unique_lock<std::mutex> lock(mutex);
        std::thread waker([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::lock_guard<std::mutex> guard(mutex);
            ready = true;
            woken.notify_one();
        });
        const DWORD start = ::GetTickCount();
        const bool gotIt = woken.wait_for(lock, std::chrono::seconds(30), [&] { return ready; });
        lock.unlock();
        waker.join();
        ok = Check("woken wait", 100, ::GetTickCount() - start) && gotIt && ok;
    }
    return ok ? 0 : 1;
}
