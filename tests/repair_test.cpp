// The full repair and the launcher of the System Restore interface.
#include "app/Module1.h"
#include "common/redirection.h"
#include "sim_fixture.h"

#include <string>

namespace {

struct Started {
    std::wstring commandLine;
    int show;
};

class FullRepairTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        CommonModule::bManageFSRedir = true;
        sim::AddFile(L"C:\\Windows\\System32\\wbem\\mofcomp.exe");
        sim::AddFile(L"C:\\Windows\\System32\\wmiprvse.exe");
    }
    std::vector<std::wstring> CommandLines() {
        std::vector<std::wstring> lines;
        for (const sim::StartedProcess& p : m().processes)
            lines.push_back(p.commandLine + (p.showWindow ? L" [shown]" : L""));
        return lines;
    }
};

const std::wstring kPolicy =
    L"cmd.exe /c reg delete \"HKLM\\SOFTWARE\\Policies\\Microsoft\\Windows NT\\SystemRestore\" /f";

TEST_F(FullRepairTest, On32BitWindowsWithoutUpgradeLibraryOrSetupFile) {
    sim::AddFile(L"C:\\Windows\\System32\\wbem\\a.dll");
    sim::AddFile(L"C:\\Windows\\System32\\wbem\\WBEMTEST.EXE");
    Module1::FullRepair();
    EXPECT_EQ(CommandLines(),
              (std::vector<std::wstring>{
                  L"cmd.exe /c net stop winmgmt /y",
                  kPolicy,
                  L"C:\\Windows\\system32\\regsvr32.exe /s C:\\Windows\\system32\\wbem\\a.dll",
                  L"C:\\Windows\\system32\\wbem\\mofcomp.exe /regserver",
                  L"C:\\Windows\\system32\\wbem\\winmgmt.exe /regserver",
                  L"C:\\Windows\\system32\\wbem\\winmgmt.exe /resetrepository",
                  L"C:\\Windows\\system32\\wmiprvse.exe /regserver [shown]",
                  L"cmd.exe /c net start ccmexec",
                  L"cmd.exe /c net start winmgmt",
                  L"cmd.exe /c gpupdate /force",
              }));
    EXPECT_TRUE(m().openHandles.empty());
}

TEST_F(FullRepairTest, On64BitWindowsBothDirectoriesWithTheirOwnRegsvr32) {
    sim::Make64Bit();
    sim::AddFile(L"C:\\Windows\\System32\\wbem\\native.dll");
    sim::AddFile(L"C:\\Windows\\SysWOW64\\wbem\\wow.dll");
    sim::AddFile(L"C:\\Windows\\SysWOW64\\wmiprvse.exe");
    sim::AddFile(L"C:\\Windows\\System32\\wbem\\wbemupgd.dll");
    sim::AddFile(L"C:\\Windows\\System32\\wbem\\cimwin32.mfl");
    sim::AddFile(L"C:\\Windows\\System32\\wbem\\cimwin32.mof");
    sim::AddFile(L"C:\\Windows\\inf\\sr.inf");
    Module1::FullRepair();
    const std::wstring root = L"C:\\Windows";
    EXPECT_EQ(
        CommandLines(),
        (std::vector<std::wstring>{
            L"cmd.exe /c net stop winmgmt /y",
            kPolicy,
            root + L"\\system32\\regsvr32.exe /s " + root + L"\\system32\\wbem\\native.dll",
            root + L"\\system32\\regsvr32.exe /s " + root + L"\\system32\\wbem\\wbemupgd.dll",
            root + L"\\system32\\wbem\\mofcomp.exe /regserver",
            root + L"\\system32\\wbem\\winmgmt.exe /regserver",
            root + L"\\syswow64\\regsvr32.exe /s " + root + L"\\syswow64\\wbem\\wow.dll",
            root + L"\\syswow64\\wbem\\winmgmt.exe /regserver",
            // every *.mof before every *.mfl
            root + L"\\system32\\wbem\\mofcomp.exe " + root + L"\\system32\\wbem\\cimwin32.mof",
            root + L"\\system32\\wbem\\mofcomp.exe " + root + L"\\system32\\wbem\\cimwin32.mfl",
            root + L"\\system32\\rundll32.exe wbemupgd, UpgradeRepository",
            root + L"\\syswow64\\wmiprvse.exe /regserver [shown]",
            root + L"\\system32\\wmiprvse.exe /regserver [shown]",
            L"cmd.exe /c net stop srservice",
            L"rundll32.exe setupapi.dll,InstallHinfSection DefaultInstall 132 " + root +
                L"\\inf\\sr.inf [shown]",
            L"cmd.exe /c net start srservice",
            L"cmd.exe /c net start ccmexec",
            L"cmd.exe /c net start winmgmt",
            L"cmd.exe /c gpupdate /force",
        }));
    // The native tools ran from System32, the 32-bit ones from SysWOW64.
    EXPECT_EQ(m().processes[2].program, L"C:\\Windows\\System32\\regsvr32.exe");
    EXPECT_EQ(m().processes[6].program, L"C:\\Windows\\SysWOW64\\regsvr32.exe");
    EXPECT_TRUE(m().processes[2].redirectionDisabled);
}

TEST_F(FullRepairTest, OnlyTheWmiTestToolIsLeftOutWhateverItsCase) {
    sim::AddFile(L"C:\\Windows\\System32\\wbem\\WbemTest.exe");
    sim::AddFile(L"C:\\Windows\\System32\\wbem\\wbemtest2.exe");
    Module1::FullRepair();
    const auto lines = CommandLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         L"C:\\Windows\\system32\\wbem\\wbemtest2.exe /regserver"),
              1);
    for (const std::wstring& line : lines)
        EXPECT_EQ(line.find(L"WbemTest.exe"), std::wstring::npos) << line;
}

TEST_F(FullRepairTest, APathWithABlankReachesTheToolAsOneArgument) {
    m().environment[L"systemroot"] = L"D:\\Win Dir";
    sim::AddFile(L"D:\\Win Dir\\system32\\regsvr32.exe");
    sim::AddFile(L"D:\\Win Dir\\system32\\wbem\\a b.dll");
    sim::AddFile(L"D:\\Win Dir\\system32\\wbem\\prov.exe");
    sim::AddFile(L"D:\\Win Dir\\inf\\sr.inf");
    Module1::FullRepair();
    const auto lines = CommandLines();
    auto has = [&lines](const std::wstring& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has(
        L"\"D:\\Win Dir\\system32\\regsvr32.exe\" /s \"D:\\Win Dir\\system32\\wbem\\a b.dll\""));
    EXPECT_TRUE(has(L"\"D:\\Win Dir\\system32\\wbem\\prov.exe\" /regserver"));
    // The setup file that was tested is the one installed, not C:\WINDOWS's.
    EXPECT_TRUE(
        has(L"rundll32.exe setupapi.dll,InstallHinfSection DefaultInstall 132 D:\\Win "
            L"Dir\\inf\\sr.inf [shown]"));
}

TEST_F(FullRepairTest, AnEmptyWmiDirectoryRegistersNothingAndTheRestRuns) {
    sim::Remove(L"C:\\Windows\\System32\\wbem\\winmgmt.exe");
    sim::Remove(L"C:\\Windows\\System32\\wbem\\mofcomp.exe");
    Module1::FullRepair();
    for (const sim::StartedProcess& p : m().processes)
        EXPECT_EQ(p.commandLine.find(L"regsvr32"), std::wstring::npos) << p.commandLine;
    EXPECT_EQ(m().processes.back().commandLine, L"cmd.exe /c gpupdate /force");
}

TEST_F(FullRepairTest, TheWholeEscalationLeavesNoHandleOpen) {
    sim::Make64Bit();
    sim::AddFile(L"C:\\Windows\\System32\\wbem\\a.dll");
    sim::AddFile(L"C:\\Windows\\SysWOW64\\wbem\\b.dll");
    sim::AddFile(L"C:\\Windows\\System32\\cmd.exe").runMs = 250;
    sim::AddFile(L"C:\\Windows\\System32\\restore\\rstrui.exe");
    m().messageBoxAnswer = 7;
    m().wmiOutcomes = {sim::Returns(1), sim::Returns(1), sim::Returns(1)};
    Module1::Main();
    EXPECT_GT(m().processes.size(), 15u);
    EXPECT_TRUE(m().openHandles.empty());
    EXPECT_TRUE(m().listings.empty());
    EXPECT_FALSE(m().redirectionDisabled);
}

TEST_F(FullRepairTest, WithoutSystemRootOnlyTheBareCommandsRun) {
    m().environment.erase(L"SystemRoot");
    Module1::FullRepair();
    for (const sim::StartedProcess& p : m().processes)
        EXPECT_EQ(p.commandLine.rfind(L"cmd.exe ", 0), 0u) << p.commandLine;
    EXPECT_EQ(m().processes.size(), 5u);
}

TEST_F(FullRepairTest, RunsOnTheSecondFailureThenTheThirdAttemptFollows) {
    m().wmiOutcomes = {sim::Returns(1), sim::Returns(1), sim::Returns(0)};
    EXPECT_EQ(Module1::Main(), 0);
    EXPECT_EQ(m().processes.size(), 6u + 9u);
    EXPECT_EQ(m().processes[6].commandLine, L"cmd.exe /c net stop winmgmt /y");
    EXPECT_EQ(m().labelAtWmiCall.back(), L"Creating System Restore Point...");
    EXPECT_TRUE(m().messageBoxes.empty());
}

// Both repairs end with the shadow-copy services: Disabled goes back to
// Manual, any other start type stays, a missing service is skipped quietly,
// and a refused call is traced without stopping the rest.
TEST_F(FullRepairTest, ADisabledShadowCopyServiceGoesBackToManualAfterTheCommands) {
    constexpr uint32_t kGone = 0, kAuto = os::kServiceAutoStart;
    constexpr uint32_t kManual = os::kServiceDemandStart, kOff = os::kServiceDisabled;
    const std::wstring denied =
        L"\tModule1\\EnableShadowCopyServices VB ERROR: 5 Access is denied.";
    struct Case {
        uint32_t vss, swprv, vssAfter, swprvAfter;
        sim::Failure vssChange, managerOpen;
        std::vector<std::wstring> trace;
    };
    const Case cases[] = {
        {kOff, kOff, kManual, kManual, {}, {}, {}},
        {kAuto, kManual, kAuto, kManual, {}, {}, {}},
        {kGone, kOff, kGone, kManual, {}, {}, {}},
        {kOff,
         kOff,
         kOff,
         kManual,
         sim::FailsWith(5),
         {},
         {denied, L"\t\t- sService=VSS", L"\t\t- sCall=ChangeServiceConfig"}},
        {kOff, kOff, kOff, kOff, {}, sim::FailsWith(5), {denied, L"\t\t- sCall=OpenSCManager"}},
    };
    for (void (*repair)() : {Module1::QuickRepair, Module1::FullRepair}) {
        for (const Case& c : cases) {
            SetUp();
            m().systemMessages[5] = L"Access is denied.";
            auto& services = m().serviceManager.services;
            auto startType = [&services](const wchar_t* name) {
                return services.count(name) ? services[name].startType : kGone;
            };
            services[L"VSS"] = sim::Service{c.vss, {}, {}, c.vssChange};
            services[L"swprv"].startType = c.swprv;
            if (c.vss == kGone) services.erase(L"VSS");
            m().serviceManager.managerOpen = c.managerOpen;
            repair();
            EXPECT_EQ(startType(L"VSS"), c.vssAfter);
            EXPECT_EQ(startType(L"swprv"), c.swprvAfter);
            EXPECT_EQ(m().debugOutput, c.trace);
            for (const sim::ServiceChange& change : m().serviceManager.changes)
                EXPECT_EQ(change.processesBefore, m().processes.size()) << "before a command";
            EXPECT_TRUE(m().serviceManager.openHandles.empty());
            EXPECT_EQ(m().serviceManager.invalidCloses + m().invalidCloses, 0);
        }
    }
}

class RestoreInterfaceTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        CommonModule::bManageFSRedir = true;
    }
};

TEST_F(RestoreInterfaceTest, TheRestoreFolderComesFirstAndStartsMinimised) {
    sim::AddFile(L"C:\\Windows\\System32\\restore\\rstrui.exe");
    sim::AddFile(L"C:\\Windows\\System32\\rstrui.exe");
    Module1::StartSystemRestoreUI();
    ASSERT_EQ(m().processes.size(), 1u);
    EXPECT_EQ(m().processes[0].program, L"C:\\Windows\\System32\\restore\\rstrui.exe");
    EXPECT_EQ(m().processes[0].showWindow, 2);
    EXPECT_TRUE(m().openHandles.empty()) << "not awaited, not kept";
}

TEST_F(RestoreInterfaceTest, TheSystemDirectoryIsTheSecondChoiceAndNativeOn64Bit) {
    sim::Make64Bit();
    sim::AddFile(L"C:\\Windows\\System32\\rstrui.exe");
    Module1::StartSystemRestoreUI();
    ASSERT_EQ(m().processes.size(), 1u);
    EXPECT_EQ(m().processes[0].program, L"C:\\Windows\\System32\\rstrui.exe");
    EXPECT_EQ(m().processes[0].commandLine, L"\"C:\\Windows\\system32\\rstrui.exe\"");
    EXPECT_FALSE(m().redirectionDisabled);
}

TEST_F(RestoreInterfaceTest, NothingStartsWhenNeitherExistsOrSystemRootIsUnset) {
    Module1::StartSystemRestoreUI();
    sim::AddFile(L"C:\\Windows\\System32\\rstrui.exe");
    m().environment.erase(L"SystemRoot");
    Module1::StartSystemRestoreUI();
    EXPECT_TRUE(m().processes.empty());
    EXPECT_TRUE(m().debugOutput.empty());
}

TEST_F(RestoreInterfaceTest, AnsweringNoOpensItAndTheRunEnds) {
    sim::AddFile(L"C:\\Windows\\System32\\restore\\rstrui.exe");
    m().messageBoxAnswer = 7;
    Module1::Main();
    ASSERT_FALSE(m().processes.empty());
    EXPECT_EQ(m().processes.back().program, L"C:\\Windows\\System32\\restore\\rstrui.exe");
    EXPECT_TRUE(m().window.destroyed);
}

}  // namespace
