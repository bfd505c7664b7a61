#include "app/Module1.h"
#include "common/redirection.h"
#include "sim_fixture.h"

#include <string>
#include <vector>

namespace {

using sim::Raises;
using sim::Returns;
using sim::ReturnsNothing;

const std::wstring kCreating = L"Creating System Restore Point...";
const std::wstring kRestarting = L"Errors encountered, Restarting System Restore...";
const std::wstring kRepairing = L"Errors encountered, Repairing System Restore...";

std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

class WorkflowTest : public SimTest {
protected:
    int32_t Run(std::initializer_list<os::WmiOutcome> outcomes) {
        m().wmiOutcomes.assign(outcomes.begin(), outcomes.end());
        return Module1::Main();
    }
    std::vector<std::wstring> MessageLines() {
        EXPECT_EQ(m().messageBoxes.size(), 1u);
        return m().messageBoxes.empty() ? std::vector<std::wstring>{}
                                        : Lines(m().messageBoxes.front().text);
    }
};

TEST_F(WorkflowTest, RequestsTheRestorePointExactly) {
    Run({Returns(0)});
    ASSERT_EQ(m().wmiCalls.size(), 1u);
    const os::WmiMethodCall& call = m().wmiCalls.front();
    EXPECT_EQ(call.nameSpace, L"root\\default");
    EXPECT_EQ(call.className, L"SystemRestore");
    EXPECT_EQ(call.method, L"CreateRestorePoint");
    EXPECT_TRUE(call.impersonate);
    ASSERT_EQ(call.arguments.size(), 3u);
    EXPECT_EQ(std::get<std::wstring>(call.arguments[0].value), L"Brindlemoor - Restore Point");
    EXPECT_EQ(std::get<int32_t>(call.arguments[1].value), 0);
    EXPECT_EQ(std::get<int32_t>(call.arguments[2].value), 100);
    EXPECT_TRUE(CommonModule::bManageFSRedir);
}

TEST_F(WorkflowTest, FirstAttemptSucceedsQuietly) {
    EXPECT_EQ(Run({Returns(0)}), 0);
    EXPECT_TRUE(m().messageBoxes.empty());
    EXPECT_EQ(m().window.caption, L"Brindlemoor - Corvane");
    EXPECT_EQ(m().labelAtWmiCall, std::vector<std::wstring>{kCreating});
    EXPECT_TRUE(m().sleeps.empty()) << "no pause without a repair";
    EXPECT_TRUE(m().window.destroyed);
}

TEST_F(WorkflowTest, SecondAttemptSucceedsAfterQuickRepairAndPause) {
    m().SetTime(10, 0, 0, 200);
    EXPECT_EQ(Run({Returns(5), Returns(0)}), 0);
    EXPECT_EQ(m().wmiCalls.size(), 2u);
    EXPECT_EQ(m().labelAtWmiCall, (std::vector<std::wstring>{kCreating, kRestarting}));
    EXPECT_TRUE(m().messageBoxes.empty());
    // The half-second pause runs to the next full second of the clock.
    EXPECT_EQ(m().clockMs, 10 * 3600 * 1000 + 1000);
}

TEST_F(WorkflowTest, ThirdAttemptSucceedsAfterFullRepair) {
    EXPECT_EQ(Run({Raises(-1, L"x"), Returns(7), Returns(0)}), 0);
    EXPECT_EQ(m().labelAtWmiCall, (std::vector<std::wstring>{kCreating, kRestarting, kCreating}));
    EXPECT_TRUE(m().messageBoxes.empty());
    // The user saw each status while the pauses let the window paint.
    EXPECT_EQ(m().window.paintedLabels, (std::vector<std::wstring>{kRestarting, kRepairing}));
}

TEST_F(WorkflowTest, EveryAttemptFailingByValueShowsTheLastValue) {
    EXPECT_EQ(Run({Returns(1), Returns(2), Returns(3)}), 3);
    ASSERT_EQ(m().messageBoxes.size(), 1u);
    const sim::MessageBoxCall& box = m().messageBoxes.front();
    EXPECT_EQ(box.title, L"Tessaline");
    EXPECT_EQ(box.style, 19u);
    EXPECT_EQ(box.text,
              L"Error Creating Restore Point\r\n"
              L"0 - \r\n"
              L"Result:  3\r\n"
              L"Check System Restore Service State!\r\n"
              L"Repair performed, but you may need to restart the PC.\r\n"
              L"\r\n"
              L"Click YES to restart now or NO to start the System Restore interface.");
    // The status window stays open behind the message box.
    EXPECT_TRUE(box.statusWindowOpen);
    EXPECT_EQ(box.labelBehind, kCreating);
    EXPECT_TRUE(m().window.destroyed);
}

TEST_F(WorkflowTest, EveryAttemptRaisingShowsTheThirdErrorAndResultOne) {
    const int32_t invalidNamespace = static_cast<int32_t>(0x8004100Eu);
    EXPECT_EQ(Run({Raises(11, L"first"), Raises(12, L"second"),
                   Raises(invalidNamespace, L"Invalid namespace ")}),
              1);
    const auto lines = MessageLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1], L"-2147217394 - Invalid namespace ");
    EXPECT_EQ(lines[2], L"Result:  1");
    EXPECT_EQ(lines[5], L"");
}

TEST_F(WorkflowTest, ValueThenErrorsKeepsTheFirstValue) {
    Run({Returns(42), Raises(5, L"Access denied"), Raises(6, L"Generic failure ")});
    const auto lines = MessageLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1], L"6 - Generic failure ");
    EXPECT_EQ(lines[2], L"Result:  42");
}

TEST_F(WorkflowTest, ErrorsThenValueClearsTheErrorLine) {
    Run({Raises(5, L"Access denied"), Raises(6, L"x"), Returns(-3)});
    const auto lines = MessageLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1], L"0 - ");
    EXPECT_EQ(lines[2], L"Result:  -3");
}

TEST_F(WorkflowTest, ACallWithoutReturnValueIsAFailureNotASuccess) {
    EXPECT_EQ(Run({ReturnsNothing(), ReturnsNothing(), ReturnsNothing()}), 1);
    EXPECT_EQ(m().wmiCalls.size(), 3u);
    const auto lines = MessageLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1], L"-2147217407 - CreateRestorePoint returned no value");
    EXPECT_EQ(lines[2], L"Result:  1");
}

TEST_F(WorkflowTest, AnErrorWithoutTextTakesTheSystemMessage) {
    m().systemMessages[5] = L"Access is denied.";
    Run({Raises(5, L""), Raises(5, L""), Raises(5, L"")});
    const auto lines = MessageLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1], L"5 - Access is denied.");
}

TEST_F(WorkflowTest, CancelEndsTheRun) {
    m().messageBoxAnswer = 2;
    Run({Returns(1), Returns(1), Returns(1)});
    EXPECT_EQ(m().messageBoxes.size(), 1u);
    EXPECT_EQ(m().wmiCalls.size(), 3u);
    EXPECT_TRUE(m().window.destroyed);
}

TEST_F(WorkflowTest, ClosingTheWindowDoesNotStopTheWorkflow) {
    m().closeWindowAtDispatch = 1;  // during the first pause
    Run({Returns(1), Returns(1), Returns(1)});
    EXPECT_EQ(m().wmiCalls.size(), 3u);
    ASSERT_EQ(m().messageBoxes.size(), 1u);
    EXPECT_FALSE(m().messageBoxes.front().statusWindowOpen);
    EXPECT_EQ(m().window.showCount, 1) << "the window is not brought back";
}

}  // namespace
