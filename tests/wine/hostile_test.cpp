// The repairs under Windows itself (Wine), in environments a technician's
// machine may really have. Wine gives every new process its own
// "systemroot", so these change the variable inside this process and run
// the repair procedures here. Also the thread runtime's timed waits, linked
// as Corvane.exe links them (GetTickCount64 replaced for XP).
#include <windows.h>

#include "app/repairs.h"
#include "common/launcher.h"
#include "common/redirection.h"
#include "contract/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

class HostileEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        ::GetEnvironmentVariableW(L"systemroot", savedRoot_, MAX_PATH);
        ::GetCurrentDirectoryW(MAX_PATH, savedDirectory_);
        // A path that has lost its Windows directory lands on this drive.
        ::SetCurrentDirectoryW(L"C:\\");
        CommonModule::bManageFSRedir = true;
    }
    void TearDown() override {
        ::SetEnvironmentVariableW(L"systemroot", savedRoot_);
        ::SetCurrentDirectoryW(savedDirectory_);
        for (const std::wstring& path : placed_) {
            ::DeleteFileW(path.c_str());
            ::DeleteFileW((path + L".log").c_str());
        }
    }
    // A recorder copy that logs each start to "<path>.log".
    void Place(const std::wstring& path) {
        const std::wstring dir = path.substr(0, path.find_last_of(L'\\'));
        for (size_t at = 3; (at = dir.find(L'\\', at)) != std::wstring::npos; ++at)
            ::CreateDirectoryW(dir.substr(0, at).c_str(), nullptr);
        ::CreateDirectoryW(dir.c_str(), nullptr);
        wchar_t self[MAX_PATH] = {};  // the recorder is built beside this program
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring recorder = self;
        recorder = recorder.substr(0, recorder.find_last_of(L'\\')) + L"\\recorder.exe";
        ASSERT_TRUE(::CopyFileW(recorder.c_str(), path.c_str(), FALSE)) << path.c_str();
        placed_.push_back(path);
    }

    std::vector<std::wstring> placed_;

private:
    wchar_t savedRoot_[MAX_PATH] = {}, savedDirectory_[MAX_PATH] = {};
};

TEST_F(HostileEnvironment, WithoutSystemRootNothingStartsFromTheDriveRoot) {
    // Where "\system32\..." would lead if it were taken as a path.
    for (const wchar_t* decoy :
         {L"C:\\system32\\regsvr32.exe", L"C:\\system32\\wmiprvse.exe",
          L"C:\\system32\\wbem\\decoy.exe", L"C:\\system32\\wbem\\winmgmt.exe",
          L"C:\\system32\\restore\\rstrui.exe", L"C:\\system32\\rstrui.exe",
          L"C:\\syswow64\\wmiprvse.exe", L"C:\\system32\\wbem\\decoy.dll"})
        Place(decoy);
    for (const wchar_t* value : {static_cast<const wchar_t*>(nullptr), L""}) {
        SCOPED_TRACE(value ? "systemroot empty" : "systemroot unset");
        ::SetEnvironmentVariableW(L"systemroot", value);
        Module1::FullRepair(true);
        Module1::StartSystemRestoreUI();
        for (const std::wstring& decoy : placed_)
            EXPECT_EQ(platform::RecordedStarts(decoy), L"") << decoy.c_str();
        EXPECT_FALSE(CommonModule::bFSRedirDisabled);
    }
}

TEST_F(HostileEnvironment, AWindowsDirectoryWithABlankIsQuotedEverywhere) {
    const std::wstring root = L"C:\\Win Copy";
    for (const wchar_t* path :
         {L"\\system32\\regsvr32.exe", L"\\system32\\wbem\\a b.dll", L"\\system32\\wbem\\prov.exe",
          L"\\system32\\wmiprvse.exe", L"\\system32\\restore\\rstrui.exe"})
        Place(root + path);
    ::SetEnvironmentVariableW(L"systemroot", root.c_str());

    Module1::FullRepair(true);
    Module1::StartSystemRestoreUI();

    const auto log = [&root](const wchar_t* path) { return platform::RecordedStarts(root + path); };
    EXPECT_EQ(log(L"\\system32\\regsvr32.exe"),
              L"\"C:\\Win Copy\\system32\\regsvr32.exe\" /s \"C:\\Win Copy\\system32\\wbem\\a "
              L"b.dll\"|show=0\n");
    EXPECT_EQ(log(L"\\system32\\wbem\\prov.exe"),
              L"\"C:\\Win Copy\\system32\\wbem\\prov.exe\" /regserver|show=0\n");
    EXPECT_EQ(log(L"\\system32\\wmiprvse.exe"),
              L"\"C:\\Win Copy\\system32\\wmiprvse.exe\" /regserver|show=1\n");
    // Not awaited: give it a moment to record.
    for (int i = 0; i < 50 && log(L"\\system32\\restore\\rstrui.exe").empty(); ++i) ::Sleep(100);
    EXPECT_EQ(log(L"\\system32\\restore\\rstrui.exe"),
              L"\"C:\\Win Copy\\system32\\restore\\rstrui.exe\"|show=2\n");
}

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
TEST_F(HostileEnvironment, AHiddenQuestionReadsEndOfFileAndTheRunGoesOn) {
    ASSERT_EQ(::GetFileType(::GetStdHandle(STD_INPUT_HANDLE)), static_cast<DWORD>(FILE_TYPE_PIPE))
        << "run with an open pipe as standard input";
    const DWORD start = ::GetTickCount();
    int32_t slot = -1;
    EXPECT_TRUE(CommonModule::ShellX(L"cmd.exe", L"/c set /p answer=", true, 0, slot, false));
    EXPECT_LT(::GetTickCount() - start, 20000u) << "waited for an answer";
    EXPECT_NE(slot, -1);
}

}  // namespace
