// The repairs under Windows itself (Wine), in environments a technician's
// machine may really have. Wine gives every new process its own
// "systemroot", so these change the variable inside this process and run
// the repair procedures here.
#include <windows.h>

#include "app/workflow.h"
#include "app/repairs.h"
#include "common/redirection.h"
#include "contract/platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring Here() {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L'\\'));
}

void MakeDirectories(const std::wstring& path) {
    for (size_t at = 3; (at = path.find(L'\\', at)) != std::wstring::npos; ++at)
        ::CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    ::CreateDirectoryW(path.c_str(), nullptr);
}

// A copy of the recorder that logs each start to "<path>.log".
void PlaceRecorder(const std::wstring& path) {
    MakeDirectories(path.substr(0, path.find_last_of(L'\\')));
    ASSERT_TRUE(::CopyFileW((Here() + L"\\recorder.exe").c_str(), path.c_str(), FALSE))
        << path.c_str();
    ::DeleteFileW((path + L".log").c_str());
}

// What the recorder at path logged, one "command line|show=N" line a start.
std::wstring LogOf(const std::wstring& path) { return platform::RecordedStarts(path); }

class HostileEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t buffer[MAX_PATH] = {};
        ::GetEnvironmentVariableW(L"systemroot", buffer, MAX_PATH);
        savedRoot_ = buffer;
        wchar_t cwd[MAX_PATH] = {};
        ::GetCurrentDirectoryW(MAX_PATH, cwd);
        savedDirectory_ = cwd;
        // A path that has lost its Windows directory lands on this drive.
        ::SetCurrentDirectoryW(L"C:\\");
        CommonModule::bManageFSRedir = true;
    }
    void TearDown() override {
        ::SetEnvironmentVariableW(L"systemroot", savedRoot_.c_str());
        ::SetCurrentDirectoryW(savedDirectory_.c_str());
        for (const std::wstring& path : placed_) {
            ::DeleteFileW(path.c_str());
            ::DeleteFileW((path + L".log").c_str());
        }
    }
    void Place(const std::wstring& path) {
        PlaceRecorder(path);
        placed_.push_back(path);
    }

    std::vector<std::wstring> placed_;

private:
    std::wstring savedRoot_, savedDirectory_;
};

TEST_F(HostileEnvironment, WithoutSystemRootNothingStartsFromTheDriveRoot) {
    // Where "\system32\..." would lead if it were taken as a path.
    const std::vector<std::wstring> decoys = {
        L"C:\\system32\\regsvr32.exe",        L"C:\\system32\\wmiprvse.exe",
        L"C:\\system32\\wbem\\decoy.exe",     L"C:\\system32\\wbem\\winmgmt.exe",
        L"C:\\system32\\restore\\rstrui.exe", L"C:\\system32\\rstrui.exe",
        L"C:\\syswow64\\wmiprvse.exe",
    };
    for (const std::wstring& decoy : decoys) Place(decoy);
    Place(L"C:\\system32\\wbem\\decoy.dll");

    for (const wchar_t* value : {static_cast<const wchar_t*>(nullptr), L""}) {
        SCOPED_TRACE(value ? "systemroot empty" : "systemroot unset");
        ::SetEnvironmentVariableW(L"systemroot", value);
        Module1::FullRepair(true);
        Module1::StartSystemRestoreUI();
        for (const std::wstring& decoy : decoys) EXPECT_EQ(LogOf(decoy), L"") << decoy.c_str();
        EXPECT_FALSE(CommonModule::bFSRedirDisabled);
    }
}

TEST_F(HostileEnvironment, AWindowsDirectoryWithABlankIsQuotedEverywhere) {
    const std::wstring root = L"C:\\Win Copy";
    Place(root + L"\\system32\\regsvr32.exe");
    Place(root + L"\\system32\\wbem\\a b.dll");
    Place(root + L"\\system32\\wbem\\prov.exe");
    Place(root + L"\\system32\\wmiprvse.exe");
    Place(root + L"\\system32\\restore\\rstrui.exe");
    ::SetEnvironmentVariableW(L"systemroot", root.c_str());

    Module1::FullRepair(true);
    Module1::StartSystemRestoreUI();

    EXPECT_EQ(LogOf(root + L"\\system32\\regsvr32.exe"),
              L"\"C:\\Win Copy\\system32\\regsvr32.exe\" /s \"C:\\Win Copy\\system32\\wbem\\a "
              L"b.dll\"|show=0\n");
    EXPECT_EQ(LogOf(root + L"\\system32\\wbem\\prov.exe"),
              L"\"C:\\Win Copy\\system32\\wbem\\prov.exe\" /regserver|show=0\n");
    EXPECT_EQ(LogOf(root + L"\\system32\\wmiprvse.exe"),
              L"\"C:\\Win Copy\\system32\\wmiprvse.exe\" /regserver|show=1\n");
    // Not awaited: give it a moment to record.
    for (int i = 0; i < 50 && LogOf(root + L"\\system32\\restore\\rstrui.exe").empty(); ++i)
        ::Sleep(100);
    EXPECT_EQ(LogOf(root + L"\\system32\\restore\\rstrui.exe"),
              L"\"C:\\Win Copy\\system32\\restore\\rstrui.exe\"|show=2\n");
}

}  // namespace
