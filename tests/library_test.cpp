// The trace sink and the path and timing helpers.
#include "common/paths.h"
#include "common/trace.h"
#include "sim_fixture.h"

#include <vector>

namespace {

using CommonModule::AppPath;
using CommonModule::Delay;
using CommonModule::DPrint;
using CommonModule::StripPath;

class TraceTest : public SimTest {};

TEST_F(TraceTest, EachValueIsATabAndItsTextInOrder) {
    DPrint(L"CommonModule\\DoesDirExist: ");
    DPrint(std::wstring(L"A"), int32_t{5}, true);
    DPrint(L"\t- Returns: False");
    EXPECT_EQ(m().debugOutput,
              (std::vector<std::wstring>{L"\tCommonModule\\DoesDirExist: ", L"\tA\t5\tTrue",
                                         L"\t\t- Returns: False"}));
}

TEST_F(TraceTest, NoValuesEmptyTextAndUnconvertibleValues) {
    DPrint();
    DPrint(L"");
    DPrint(L"a", nullptr, L"b");
    EXPECT_EQ(m().debugOutput, (std::vector<std::wstring>{L"", L"\t", L"\ta\tb"}));
}

TEST_F(TraceTest, CharactersOutsideTheCodePageArriveReplaced) {
    DPrint(L"caf\u00e9 \u4e2d");
    ASSERT_EQ(m().debugOutput.size(), 1u);
    EXPECT_EQ(m().debugOutput[0], L"\tcaf\u00e9 ?");
}

class PathTest : public SimTest {};

TEST_F(PathTest, AppPathEndsInExactlyOneBackslash) {
    m().executablePath = L"C:\\Tools\\Corvane.exe";
    EXPECT_EQ(AppPath(), L"C:\\Tools\\");
    m().executablePath = L"C:\\Corvane.exe";
    EXPECT_EQ(AppPath(), L"C:\\");
    m().executablePath = L"\\\\server\\share\\Corvane.exe";
    EXPECT_EQ(AppPath(), L"\\\\server\\share\\");
    EXPECT_TRUE(m().debugOutput.empty());
}

TEST_F(PathTest, AppPathWithoutAnExecutablePathTraces) {
    m().executablePath.clear();
    EXPECT_EQ(AppPath(), L"\\");
    ASSERT_EQ(m().debugOutput.size(), 1u);
    EXPECT_EQ(m().debugOutput[0].rfind(L"\tCommonModule\\AppPath VB ERROR: ", 0), 0u);
}

TEST_F(PathTest, StripPathKeepsWhatFollowsTheLastBackslash) {
    EXPECT_EQ(StripPath(L"C:\\Windows\\System32\\wbem\\wbemtest.exe"), L"wbemtest.exe");
    EXPECT_EQ(StripPath(L"wbemtest.exe"), L"wbemtest.exe");
    EXPECT_EQ(StripPath(L"C:\\Windows\\"), L"");
    EXPECT_EQ(StripPath(L""), L"");
}

class DelayTest : public SimTest {
protected:
    // Milliseconds the pause took on the simulated clock.
    int64_t Measure(double seconds) {
        const int64_t start = m().clockMs;
        Delay(seconds);
        return m().clockMs - start;
    }
};

TEST_F(DelayTest, HalfASecondRunsToTheNextFullSecond) {
    m().SetTime(10, 0, 0, 200);
    EXPECT_EQ(Measure(0.5), 800);
    m().SetTime(10, 0, 0, 900);
    EXPECT_EQ(Measure(0.5), 100);
    m().SetTime(10, 0, 0, 950);  // the first test at or after 10:00:01 is at 1.050
    EXPECT_EQ(Measure(0.5), 100);
}

TEST_F(DelayTest, WholeSecondsAndZero) {
    m().SetTime(10, 0, 0, 0);
    EXPECT_EQ(Measure(0), 1000);
    m().SetTime(10, 0, 0, 300);
    EXPECT_EQ(Measure(2), 2700);
}

TEST_F(DelayTest, SleepsInStepsOf100msAndDispatchesEachTime) {
    m().SetTime(10, 0, 0, 500);
    Delay(0.5);
    EXPECT_EQ(m().sleeps, std::vector<uint32_t>(5, 100));
    EXPECT_EQ(m().dispatchCount, 5);
}

TEST_F(DelayTest, NegativeReturnsAtOnce) {
    m().SetTime(10, 0, 0, 500);
    EXPECT_EQ(Measure(-1), 0);
    EXPECT_TRUE(m().debugOutput.empty());
}

TEST_F(DelayTest, ADeadlineBeyondTheLastDateTracesAndDoesNotPause) {
    EXPECT_EQ(Measure(1e12), 0);
    ASSERT_EQ(m().debugOutput.size(), 1u);
    EXPECT_EQ(m().debugOutput[0], L"\tCommonModule\\Delay VB ERROR: 6 Overflow");
}

TEST_F(DelayTest, CrossesMidnightAndMonthEnds) {
    m().year = 2026;
    m().month = 12;
    m().day = 31;
    m().SetTime(23, 59, 59, 600);
    EXPECT_EQ(Measure(0.5), 400);
    EXPECT_DOUBLE_EQ(
        CommonModule::ToDays(2027, 1, 1, 0, 0, 0) - CommonModule::ToDays(2026, 12, 31, 0, 0, 0),
        1.0);
    EXPECT_DOUBLE_EQ(CommonModule::ToDays(1899, 12, 30, 0, 0, 0), 0.0);
    EXPECT_DOUBLE_EQ(CommonModule::ToDays(2000, 1, 1, 12, 0, 0), 36526.5);
}

}  // namespace
