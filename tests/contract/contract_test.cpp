// What the seam's functions do, checked against both implementations: the
// simulated machine natively and Windows itself under Wine.
#include "contract/platform.h"
#include "os/os.h"

#include <gtest/gtest.h>

namespace {

class ContractTest : public ::testing::Test {
protected:
    void SetUp() override { platform::Prepare(); }
};

TEST_F(ContractTest, EnvironmentNamesIgnoreCaseAndUnsetReadsEmpty) {
    platform::SetEnvironment(L"CORVANE_PROBE", L"C:\\Windows");
    EXPECT_EQ(os::EnvironmentValue(L"corvane_probe"), L"C:\\Windows");
    platform::UnsetEnvironment(L"CORVANE_PROBE");
    EXPECT_EQ(os::EnvironmentValue(L"Corvane_Probe"), L"");
}

TEST_F(ContractTest, ExecutablePathIsAFullPathToTheRunningProgram) {
    const std::wstring path = os::ExecutablePath();
    ASSERT_GE(path.size(), 3u);
    EXPECT_EQ(path[1], L':');
    EXPECT_EQ(path[2], L'\\');
    const std::wstring name = platform::ExecutableName();
    ASSERT_GE(path.size(), name.size());
    EXPECT_EQ(path.substr(path.size() - name.size()), name);
}

TEST_F(ContractTest, SystemMessagesKeepTheirLineEnd) {
    const std::wstring text = os::FormatSystemMessage(2);  // ERROR_FILE_NOT_FOUND
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
    EXPECT_EQ(os::FormatSystemMessage(0x2000FFFFu), L"") << "no text for an unknown code";
}

TEST_F(ContractTest, SleepMovesTheClockForward) {
    const os::LocalTime before = os::GetLocalTime();
    os::Sleep(1100);
    const os::LocalTime after = os::GetLocalTime();
    const auto seconds = [](const os::LocalTime& t) {
        return (t.hour * 60 + t.minute) * 60 + t.second;
    };
    EXPECT_GE(after.year, 2000);
    EXPECT_GE(seconds(after) - seconds(before), 1);
    EXPECT_LT(after.milliseconds, 1000);
}

TEST_F(ContractTest, AMissingWmiNamespaceRaisesWithACode) {
    os::WmiMethodCall call;
    call.nameSpace = L"root\\corvane_missing";
    call.className = L"SystemRestore";
    call.method = L"CreateRestorePoint";
    const os::WmiOutcome outcome = os::InvokeWmiMethod(call);
    EXPECT_EQ(outcome.status, os::WmiStatus::Raised);
    EXPECT_NE(outcome.errorCode, 0);
}

TEST_F(ContractTest, StatusWindowLifecycle) {
    os::StatusWindowLayout layout;
    layout.clientWidthTwips = 4230;
    layout.clientHeightTwips = 720;
    layout.labelTopTwips = 240;
    layout.labelWidthTwips = 4215;
    layout.labelHeightTwips = 255;
    layout.caption = L"Form2";
    layout.labelText = L"Label1";

    os::StatusWindowShow(layout);
    os::StatusWindowSetCaption(L"Brindlemoor - Corvane");
    os::StatusWindowSetLabel(L"Errors encountered, Restarting System Restore...");
    os::DispatchPendingMessages();

    platform::WindowView view = platform::StatusWindow();
    ASSERT_TRUE(view.exists);
    EXPECT_TRUE(view.visible);
    EXPECT_EQ(view.caption, L"Brindlemoor - Corvane");
    EXPECT_EQ(view.label, L"Errors encountered, Restarting System Restore...");
    // Twips at the screen's DPI: 282 x 48 pixels at 96 DPI.
    const int dpi = platform::ScreenDpi();
    EXPECT_EQ(view.clientWidth, 4230 * dpi / 1440);
    EXPECT_EQ(view.clientHeight, 720 * dpi / 1440);

    os::StatusWindowUnload();
    EXPECT_FALSE(platform::StatusWindow().exists);
    // After unloading, texts go nowhere and nothing fails.
    os::StatusWindowSetLabel(L"late");
    os::StatusWindowUnload();
    EXPECT_FALSE(platform::StatusWindow().exists);
}

}  // namespace
