// The recursive file search.
#include "common/findfiles.h"
#include "common/redirection.h"
#include "sim_fixture.h"

namespace {

using CommonModule::FileList;
using CommonModule::FindFiles;

class FindFilesTest : public SimTest {
protected:
    const std::wstring wbem = L"C:\\Windows\\System32\\wbem";
};

TEST_F(FindFilesTest, PatternsInOrderEachAsAFullPath) {
    sim::AddFile(wbem + L"\\b.mof");
    sim::AddFile(wbem + L"\\a.mfl");
    sim::AddFile(wbem + L"\\c.MOF");
    sim::AddFile(wbem + L"\\sub\\d.mof");
    FileList files;
    FindFiles(wbem, L"*.mof;*.mfl", files, false);
    EXPECT_EQ(files.Items(),
              (std::vector<std::wstring>{wbem + L"\\b.mof", wbem + L"\\c.MOF", wbem + L"\\a.mfl"}));
    EXPECT_EQ(files.Count(), 3u);
    EXPECT_EQ(files.Item(1), wbem + L"\\b.mof");

    FindFiles(wbem + L"\\", L"*.mof;*.mfl", files, false);
    EXPECT_EQ(files.Item(1), wbem + L"\\b.mof") << "no doubled backslash";
    EXPECT_EQ(files.Count(), 3u);
}

TEST_F(FindFilesTest, AMissingDirectoryEmptiesTheListWithoutATrace) {
    sim::AddFile(wbem + L"\\a.dll");
    FileList files;
    FindFiles(wbem, L"*.dll", files, false);
    ASSERT_EQ(files.Count(), 1u);
    FindFiles(L"C:\\Nowhere", L"*.dll", files, false);
    EXPECT_EQ(files.Count(), 0u);
    FindFiles(wbem, L"", files, false);
    EXPECT_EQ(files.Count(), 0u) << "an empty pattern list yields nothing";
    EXPECT_TRUE(m().debugOutput.empty());
}

TEST_F(FindFilesTest, ARepeatKeepsItsFirstPlaceAndIsTracedOnce) {
    sim::AddFile(wbem + L"\\one.dll");
    sim::AddFile(wbem + L"\\two.dll");
    FileList files;
    FindFiles(wbem, L"*.dll;t*.dll", files, false);
    EXPECT_EQ(files.Items(), (std::vector<std::wstring>{wbem + L"\\one.dll", wbem + L"\\two.dll"}));
    EXPECT_EQ(m().debugOutput, (std::vector<std::wstring>{
                                   L"\tFindFiles:  File already in the list",
                                   L"\t\tRecurseDirs:  False",
                                   L"\t\tPath:  " + wbem + L"\\",
                                   L"\t\tFile:  " + wbem + L"\\two.dll",
                                   L"\t\tSpec:  t*.dll",
                                   L"\t\tbFSRedirDisabled:  False",
                               }));
}

TEST_F(FindFilesTest, AFailingListingIsTracedAndTheSearchGoesOn) {
    sim::AddFile(wbem + L"\\one.dll");
    m().systemMessages[5] = L"Access is denied.";
    m().listingError = 5;
    FileList files;
    FindFiles(wbem, L"*.dll;*.exe", files, false);
    EXPECT_EQ(files.Count(), 0u);
    ASSERT_EQ(m().debugOutput.size(), 12u) << "six lines for each pattern";
    EXPECT_EQ(m().debugOutput[0], L"\tFindFiles:  Access is denied.");
    EXPECT_EQ(m().debugOutput[3], L"\t\tFile:  ");
    EXPECT_EQ(m().debugOutput[10], L"\t\tSpec:  *.exe");
}

TEST_F(FindFilesTest, HiddenAndSystemFilesAreFoundButNotSuchDirectories) {
    sim::AddFile(L"C:\\Tree\\top.txt").attributes = 0x2 | 0x4;
    sim::AddFile(L"C:\\Tree\\a\\one.txt");
    sim::AddFile(L"C:\\Tree\\a\\deep\\two.txt");
    sim::AddFile(L"C:\\Tree\\b\\three.txt");
    sim::AddFile(L"C:\\Tree\\b\\skip.log");
    sim::AddFile(L"C:\\Tree\\hidden\\no.txt");
    sim::AddFile(L"C:\\Tree\\system\\no.txt");
    sim::AddDirectory(L"C:\\Tree\\hidden", 0x2);
    sim::AddDirectory(L"C:\\Tree\\system", 0x4);
    FileList files;
    FindFiles(L"C:\\Tree", L"*.txt", files, true);
    // Depth first, a directory's own files before those of its subdirectories.
    EXPECT_EQ(files.Items(), (std::vector<std::wstring>{
                                 L"C:\\Tree\\top.txt",
                                 L"C:\\Tree\\a\\one.txt",
                                 L"C:\\Tree\\a\\deep\\two.txt",
                                 L"C:\\Tree\\b\\three.txt",
                             }));
    EXPECT_TRUE(m().debugOutput.empty());
    EXPECT_TRUE(m().openHandles.empty()) << "every listing is closed";
}

TEST_F(FindFilesTest, ListingsSeeTheNativeDirectoryAndDispatchMessages) {
    sim::Make64Bit();
    CommonModule::bManageFSRedir = true;
    sim::AddFile(wbem + L"\\native.dll");
    sim::AddFile(L"C:\\Windows\\SysWOW64\\wbem\\wow.dll");
    FileList files;
    FindFiles(wbem, L"*.dll;*.exe", files, false);
    EXPECT_EQ(files.Items(),
              (std::vector<std::wstring>{wbem + L"\\native.dll", wbem + L"\\winmgmt.exe"}));
    EXPECT_FALSE(m().redirectionDisabled);
    EXPECT_EQ(m().dispatchCount, 2) << "once after each pattern";
}

TEST(FileListTest, UniqueWithoutRegardToCaseAcrossGrowth) {
    FileList list;
    EXPECT_TRUE(list.Add(L"C:\\A\\x.dll"));
    EXPECT_FALSE(list.Add(L"c:\\a\\X.DLL"));
    // Enough entries to make the index grow several times.
    for (int i = 0; i < 1000; ++i) EXPECT_TRUE(list.Add(L"C:\\A\\f" + std::to_wstring(i)));
    EXPECT_FALSE(list.Add(L"C:\\a\\X.dll"));
    EXPECT_FALSE(list.Add(L"c:\\A\\F999"));
    EXPECT_EQ(list.Count(), 1001u);
    EXPECT_EQ(list.Item(1), L"C:\\A\\x.dll");
    EXPECT_EQ(list.Item(1001), L"C:\\A\\f999");
}

}  // namespace
