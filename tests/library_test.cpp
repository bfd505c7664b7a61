// base/: trace, paths and pauses, redirection, existence
// checks and the file search.
#include "base/exists.h"
#include "base/findfiles.h"
#include "base/paths.h"
#include "base/redirection.h"
#include "base/time.h"
#include "base/trace.h"
#include "sim_fixture.h"

namespace {

using namespace base;
using Lines = std::vector<std::wstring>;
using LibraryTest = SimTest;

TEST_F(LibraryTest, PathsAndTraceLines) {
    EXPECT_EQ(AppPath(), L"C:\\Tools\\");
    m().executablePath.clear();
    EXPECT_EQ(AppPath(), L"\\");
    Trace(std::wstring(L"A"), int32_t{5}, true, false);
    EXPECT_EQ(m().debugOutput, (Lines{L"\tCommonModule\\AppPath VB ERROR: 53 File not found: ",
                                      L"\tA\t5\tTrue\tFalse"}));
}

TEST_F(LibraryTest, PausesEndAtTheFirstFullSecondPastTheDeadline) {
    struct Case {
        int hour, minute, second, startMs;
        int64_t tookMs;
    };
    m().day = 31;  // of December: the last pause crosses midnight and the year's end
    for (const Case& c :
         {Case{10, 0, 0, 200, 1800}, Case{10, 0, 0, 900, 1100}, Case{23, 59, 58, 600, 1400}}) {
        m().SetTime(c.hour, c.minute, c.second, c.startMs);
        const int64_t start = m().clockMs;
        Delay(1);
        EXPECT_EQ(m().clockMs - start, c.tookMs) << c.hour << " " << c.startMs;
    }
    EXPECT_EQ(m().sleeps, std::vector<uint32_t>(43, 100)) << "100 ms steps";
    EXPECT_EQ(m().dispatchCount, 43) << "the windows answer meanwhile";
    Delay(1e12);
    EXPECT_EQ(m().debugOutput, Lines{L"\tCommonModule\\Delay VB ERROR: 6 Overflow"});
}

TEST_F(LibraryTest, RedirectionIsSwitchedOnceAndOnlyWhenManagedOn64BitWindows) {
    sim::Make64Bit();
    DisableRedirection();  // not managed: only kept track of
    RevertRedirection();
    manageRedirection = true;
    m().environment[L"ProgramFiles(x86)"] = L"";  // defined but empty: 32-bit
    DisableRedirection();
    RevertRedirection();
    EXPECT_EQ(m().wow64Disables, 0);
    m().environment[L"ProgramFiles(x86)"] = L"C:\\Program Files (x86)";
    DisableRedirection();
    DisableRedirection();
    EXPECT_TRUE(m().redirectionDisabled);
    RevertRedirection();
    EXPECT_FALSE(m().redirectionDisabled) << "restored with the first saved value";
    EXPECT_EQ(m().wow64Disables, 1);
    EXPECT_TRUE(DoesDirExist(L"C:\\Windows\\System32"));
    EXPECT_FALSE(m().redirectionDisabled) << "the existence test switches it back on";

    m().systemMessages[127] = L"The specified procedure could not be found.";
    m().kernelHasWow64Functions = false;
    DisableRedirection();
    RevertRedirection();
    EXPECT_EQ(m().debugOutput,
              Lines{L"\tDisableFSRedir:  The specified procedure could not be found."});
}

TEST_F(LibraryTest, ExistenceOfDirectoriesAndFiles) {
    sim::AddFile(L"C:\\Data\\report.txt");
    sim::AddFile(L"C:\\Data\\locked.db").openable = false;
    m().currentDirectory = L"C:\\";
    struct Case {
        const wchar_t* path;
        bool dir, file;
    };
    // Only drive, UNC and .\ paths are looked at: the last two cases read as missing.
    for (const Case& c :
         {Case{L"C:\\Data", true, false}, Case{L"C:\\Data\\report.txt", false, true},
          Case{L"C:\\Data\\locked.db", false, false}, Case{L".\\Data", true, false},
          Case{L"Data", false, false}, Case{L"\\Data\\report.txt", false, false}}) {
        EXPECT_EQ(DoesDirExist(c.path), c.dir) << c.path;
        EXPECT_EQ(DoesFileExist(c.path), c.file) << c.path;
    }
}

TEST_F(LibraryTest, FindFilesListsPatternsInOrderAndSkipsHiddenDirectories) {
    sim::Make64Bit();
    manageRedirection = true;
    const std::wstring wbem = L"C:\\Windows\\System32\\wbem\\";
    for (const wchar_t* name :
         {L"b.mof", L"a.mfl", L"c.MOF", L"sub\\d.mof", L"hidden\\h.mof", L"system\\s.mof"})
        sim::AddFile(wbem + name);
    sim::AddDirectory(wbem + L"hidden", 0x2);
    sim::AddDirectory(wbem + L"system", 0x4);
    FileList files;
    FindFiles(wbem, L"*.mof;*.mfl;b*.mof", files, Subfolders::Searched);
    EXPECT_EQ(files.Items(),
              (Lines{wbem + L"b.mof", wbem + L"c.MOF", wbem + L"a.mfl", wbem + L"sub\\d.mof"}));
    EXPECT_EQ(m().debugOutput,
              (Lines{L"\tFindFiles:  File already in the list", L"\t\tRecurseDirs:  True",
                     L"\t\tPath:  " + wbem, L"\t\tFile:  " + wbem + L"b.mof", L"\t\tSpec:  b*.mof",
                     L"\t\tbFSRedirDisabled:  False"}));

    m().debugOutput.clear();
    m().dispatchCount = 0;
    m().systemMessages[5] = L"Access is denied.";
    m().listingError = 5;
    FindFiles(wbem, L"*.dll;*.exe", files, Subfolders::Skipped);
    EXPECT_EQ(files.Count(), 0u) << "the list is replaced";
    EXPECT_EQ(m().dispatchCount, 2) << "once after each pattern";
    ASSERT_EQ(m().debugOutput.size(), 12u) << "six lines for each pattern";
    EXPECT_EQ(m().debugOutput[0], L"\tFindFiles:  Access is denied.");
    EXPECT_EQ(m().debugOutput[10], L"\t\tSpec:  *.exe");
}

}  // namespace
