// The quick and the full repair, and the launcher of the System Restore
// interface.
#include "repairs/repairs.h"
#include "sim_fixture.h"

#include <algorithm>
#include <deque>

namespace {

using Lines = std::vector<std::wstring>;

class RepairTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        base::manageRedirection = true;
        sim::AddFile(L"C:\\Windows\\System32\\wbem\\mofcomp.exe");
        sim::AddFile(L"C:\\Windows\\System32\\wmiprvse.exe");
    }
};

// The setup file installed is the one tested, wherever Windows is, not a
// fixed C:\WINDOWS\inf\sr.inf; where Windows is, the system says, not the
// caller's environment. Where nobody could answer it, the setup asks nothing.
TEST_F(RepairTest, FullRepairOn64BitWindowsTreatsBothDirectoriesWithTheirOwnTools) {
    sim::Make64Bit();
    const std::wstring planted = m().currentDirectory + L"\\Fake";
    m().environment[L"SystemRoot"] = m().environment[L"windir"] = planted;
    for (const wchar_t* path : {L"\\System32\\wbem\\winmgmt.exe", L"\\System32\\wbem\\x.dll",
                                L"\\inf\\sr.inf", L"\\System32\\rundll32.exe"})
        sim::AddFile(planted + path);
    for (const wchar_t* path :
         {L"System32\\wbem\\native one.dll", L"SysWOW64\\wbem\\wow.dll", L"SysWOW64\\wmiprvse.exe",
          L"System32\\wbem\\wbemupgd.dll", L"System32\\wbem\\cimwin32.mfl",
          L"System32\\wbem\\cimwin32.mof", L"System32\\wbem\\WBEMTEST.EXE",
          L"System32\\wbem\\wbemtest2.exe", L"inf\\sr.inf"})
        sim::AddFile(L"C:\\Windows\\" + std::wstring(path));
    repairs::FullRepair(0);
    const std::wstring s32 = L"C:\\Windows\\system32", wow = L"C:\\Windows\\syswow64";
    Lines expected{
        L"cmd.exe /c net stop winmgmt /y",
        kPolicyKeyDeletion,
        s32 + L"\\regsvr32.exe /s \"" + s32 + L"\\wbem\\native one.dll\"",  // one argument
        s32 + L"\\regsvr32.exe /s " + s32 + L"\\wbem\\wbemupgd.dll",
        s32 + L"\\wbem\\mofcomp.exe /regserver",
        s32 + L"\\wbem\\wbemtest2.exe /regserver",  // WBEMTEST.EXE: never
        s32 + L"\\wbem\\winmgmt.exe /regserver",
        wow + L"\\regsvr32.exe /s " + wow + L"\\wbem\\wow.dll",
        wow + L"\\wbem\\winmgmt.exe /regserver",
        s32 + L"\\wbem\\mofcomp.exe " + s32 + L"\\wbem\\cimwin32.mof",  // *.mof first
        s32 + L"\\wbem\\mofcomp.exe " + s32 + L"\\wbem\\cimwin32.mfl",
        s32 + L"\\rundll32.exe wbemupgd, UpgradeRepository",
        wow + L"\\wmiprvse.exe /regserver [shown]",
        s32 + L"\\wmiprvse.exe /regserver [shown]",
        L"cmd.exe /c net stop srservice",
        L"rundll32.exe setupapi.dll,InstallHinfSection DefaultInstall 132 C:\\Windows"
        L"\\inf\\sr.inf [shown]",
        L"cmd.exe /c net start srservice",
    };
    expected.insert(expected.end(), kFullRepairEnd.begin(), kFullRepairEnd.end());
    EXPECT_EQ(Started(), expected);
    EXPECT_EQ(m().processes[2].program, L"C:\\Windows\\System32\\regsvr32.exe");
    EXPECT_EQ(m().processes[7].program, L"C:\\Windows\\SysWOW64\\regsvr32.exe");

    m().processes.clear();
    m().windowStationFlags = 0;  // a deployment job's window station
    repairs::FullRepair(0);
    EXPECT_EQ(Started(L"rundll32.exe setupapi"),
              Lines{L"rundll32.exe setupapi.dll,InstallHinfSection DefaultInstall 128 "
                    L"C:\\Windows\\inf\\sr.inf [shown]"});
}

// A consistent repository is reset only when the request found the class
// missing, and never on a server, which has no such class; an inconsistent
// one (winmgmt exits 1358) is salvaged first, and reset if that fails, on a
// server too. Without winmgmt.exe the step is the one call, which RunProgram
// reports.
TEST_F(RepairTest, TheRepositoryIsResetOnlyWhenItIsBroken) {
    const std::wstring winmgmt = L"C:\\Windows\\system32\\wbem\\winmgmt.exe";
    const std::wstring verify = winmgmt + L" /verifyrepository";
    const std::wstring salvage = winmgmt + L" /salvagerepository";
    const std::wstring reset = winmgmt + L" /resetrepository";
    const Lines kept = {verify}, resetAfterVerify = {verify, reset};
    struct Case {
        std::deque<uint32_t> exitCodes;  // of winmgmt.exe's runs, /regserver first
        uint32_t raised;
        Lines commands;
        uint32_t productType = 1;  // a workstation; 3 a server
    };
    const Case cases[] = {
        {{0, 0}, 0, kept},
        {{0, 0}, 0x80041002u, resetAfterVerify},  // WBEM_E_NOT_FOUND
        {{0, 0}, 0x8004100Eu, resetAfterVerify},  // WBEM_E_INVALID_NAMESPACE
        {{0, 0}, 0x80041010u, resetAfterVerify},  // WBEM_E_INVALID_CLASS
        {{0, 0}, 0x80041011u, resetAfterVerify},  // WBEM_E_PROVIDER_NOT_FOUND
        {{0, 0}, 0x80070005u, kept},              // access denied
        {{0, 0}, 0x800706BAu, kept},              // the RPC server is unavailable
        {{0, 1358, 0, 0}, 0, {verify, salvage, verify}},
        {{0, 1358, 0, 0}, 0x80041010u, {verify, salvage, verify}},
        {{0, 1358, 0, 1358}, 0, {verify, salvage, verify, reset}},
        {{0, 0}, 0x80041010u, kept, 3},
        {{0, 1358, 0, 1358}, 0x80041010u, {verify, salvage, verify, reset}, 3},
        {{}, 0, {}},  // no winmgmt.exe
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        SetUp();
        m().shutdown.productType = c.productType;
        if (c.exitCodes.empty())
            sim::Remove(winmgmt);
        else
            sim::AddFile(winmgmt).exitCodes = c.exitCodes;
        repairs::FullRepair(static_cast<int32_t>(c.raised));
        Lines commands = Started(winmgmt + L" /");
        commands.erase(std::remove(commands.begin(), commands.end(), winmgmt + L" /regserver"),
                       commands.end());
        EXPECT_EQ(commands, c.commands);
    }
    EXPECT_EQ(m().debugOutput, (Lines{L"\tCommonModule\\ShellX FILE NOT FOUND",
                                      L"\t\t- sPathAndFileName=" + winmgmt}));
}

// Both turn protection on for the system drive, after their last command,
// with what the method declares (WaitTillEnabled, a boolean, on Windows XP);
// a failure is traced.
TEST_F(RepairTest, BothRepairsEndByTurningProtectionOnForTheSystemDrive) {
    m().environment[L"SystemDrive"] = L"D:";  // the caller's, not the system's
    m().systemMessages[1058] = L"The service cannot be started.";
    m().otherWmiOutcome = sim::Returns(1058);
    sim::AddFile(L"C:\\Windows\\System32\\cmd.exe").launchError = 5;  // so each command traces
    repairs::QuickRepair();
    const Lines quick = m().debugOutput;
    ASSERT_EQ(quick.size(), 2 * kQuickRepair.size() + 2) << "every command tried and traced";
    for (size_t i = 0; i < kQuickRepair.size(); ++i)
        EXPECT_EQ(quick[2 * i + 1], L"\t\t- sShell=" + kQuickRepair[i]) << "in this order";
    m().wmiParameters[L"Enable"] = {{L"Drive", sim::CimType::String},
                                    {L"WaitTillEnabled", sim::CimType::Boolean}};
    m().otherWmiOutcome = sim::Raises(static_cast<int32_t>(0x80041010u), L"Invalid class ");
    repairs::FullRepair(0);
    const Lines full = m().debugOutput;

    ASSERT_EQ(m().otherWmiCalls.size(), 2u);
    for (const os::WmiMethodCall& call : m().otherWmiCalls)
        EXPECT_EQ(call.method + L" " + std::get<std::wstring>(call.arguments[0].value),
                  L"Enable C:\\");
    EXPECT_EQ(m().otherWmiCalls[0].arguments.size(), 1u) << "only what the method declares";
    ASSERT_EQ(m().otherWmiCalls[1].arguments.size(), 2u);
    const auto& waitTillEnabled = m().otherWmiCalls[1].arguments[1].value;
    EXPECT_TRUE(std::holds_alternative<bool>(waitTillEnabled) && std::get<bool>(waitTillEnabled));

    const std::pair<Lines, std::wstring> traces[] = {
        {quick, kQuickRepair.back() + L"\tModule1\\EnableSystemRestore VB ERROR: 1058 The "
                                      L"service cannot be started."},
        {full, kFullRepairEnd.back() + L"\tModule1\\EnableSystemRestore VB ERROR: -2147217392 "
                                       L"Invalid class "}};
    for (const auto& [trace, expected] : traces) {
        ASSERT_GE(trace.size(), 3u);
        EXPECT_EQ(trace.end()[-3] + trace.end()[-2] + trace.end()[-1],
                  L"\t\t- sShell=" + expected + L"\t\t- sDrive=C:\\");
    }
}

// Both repairs end with the shadow-copy services, before protection is
// turned on: Disabled goes back to Manual, any other start type stays, a
// missing service is skipped quietly, and a refused call is traced without
// stopping the rest.
TEST_F(RepairTest, ADisabledShadowCopyServiceGoesBackToManualAfterTheCommands) {
    constexpr uint32_t kGone = 0, kAuto = os::kServiceAutoStart;
    constexpr uint32_t kManual = os::kServiceDemandStart, kOff = os::kServiceDisabled;
    const std::wstring denied =
        L"\tModule1\\EnableShadowCopyServices VB ERROR: 5 Access is denied.";
    struct Case {
        uint32_t vss, swprv, vssAfter, swprvAfter;
        sim::Failure vssChange, managerOpen;
        Lines trace = {};
    };
    // clang-format off
    const Case cases[] = {
        {kOff, kOff, kManual, kManual, {}, {}, {}},
        {kAuto, kManual, kAuto, kManual, {}, {}, {}},
        {kGone, kOff, kGone, kManual, {}, {}, {}},
        {kOff, kOff, kOff, kManual, sim::FailsWith(5), {},
         {denied, L"\t\t- sService=VSS", L"\t\t- sCall=ChangeServiceConfig"}},
        {kOff, kOff, kOff, kOff, {}, sim::FailsWith(5), {denied, L"\t\t- sCall=OpenSCManager"}},
    };
    // clang-format on
    for (void (*repair)() : {repairs::QuickRepair, +[] { repairs::FullRepair(0); }}) {
        for (const Case& c : cases) {
            SetUp();
            m().systemMessages[5] = L"Access is denied.";
            auto& services = m().serviceManager.services;
            services[L"VSS"] = sim::Service{c.vss, {}, {}, c.vssChange};
            services[L"swprv"].startType = c.swprv;
            if (c.vss == kGone) services.erase(L"VSS");
            m().serviceManager.managerOpen = c.managerOpen;
            repair();
            EXPECT_EQ(services.count(L"VSS") ? services[L"VSS"].startType : kGone, c.vssAfter);
            EXPECT_EQ(services[L"swprv"].startType, c.swprvAfter);
            EXPECT_EQ(m().debugOutput, c.trace);
            for (const sim::ServiceChange& change : m().serviceManager.changes) {
                EXPECT_EQ(change.processesBefore, m().processes.size()) << "after the commands";
                EXPECT_EQ(change.otherWmiCallsBefore, 0u) << "before protection is turned on";
            }
        }
    }
}

// The first place found, started minimised with redirection off. Only 740
// (CreateProcess cannot elevate) hands the start to the shell with the
// user's consent and redirection on: the System32 path, which Windows starts
// natively; only where the shell does not find it there, the native
// directory's alias. One trace line when that fails too.
TEST_F(RepairTest, TheSystemRestoreInterfaceIsStartedMinimisedFromTheFirstPlaceFound) {
    struct Case {
        bool wow64, inRestore, inSystem32;
        uint32_t launchError;
        bool consent, shellRedirected;
        const wchar_t* started;  // "verb command line" of what ran; empty: nothing
        Lines trace = {};
    };
    const wchar_t* const system32 = L"runas \"C:\\Windows\\system32\\rstrui.exe\"";
    const Lines declined = {L"\tStartSystemRestoreUI: no start with consent: 1223 "};
    // clang-format off
    const Case cases[] = {
        {false, true, true, 0, true, false, L" C:\\Windows\\system32\\restore\\rstrui.exe"},
        {true, false, true, 0, true, false, L" C:\\Windows\\system32\\rstrui.exe"},
        {false, false, false, 0, true, false, L""},
        {false, false, true, 740, true, false, system32},
        {true, false, true, 740, true, false, system32},
        {true, false, true, 740, true, true, L"runas \"C:\\Windows\\Sysnative\\rstrui.exe\""},
        {true, false, true, 5, true, false, L"", {L"\tCommonModule\\ShellX VB ERROR: 5 ",
                                                   L"\t\t- sShell=C:\\Windows\\system32\\rstrui.exe"}},
        {true, false, true, 740, false, false, L"", declined},
        {true, false, true, 740, false, true, L"", declined},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        SetUp();
        if (c.wow64) sim::Make64Bit();
        if (c.inRestore) sim::AddFile(L"C:\\Windows\\System32\\restore\\rstrui.exe");
        if (c.inSystem32)
            sim::AddFile(L"C:\\Windows\\System32\\rstrui.exe").launchError = c.launchError;
        m().consentGiven = c.consent;
        m().consentStartRedirected = c.shellRedirected;
        repairs::StartSystemRestoreUI();
        EXPECT_EQ(m().debugOutput, c.trace);
        ASSERT_EQ(m().processes.size(), *c.started ? 1u : 0u);
        if (!*c.started) continue;
        const sim::StartedProcess& p = m().processes[0];
        EXPECT_EQ(p.verb + L" " + p.commandLine, c.started);
        EXPECT_EQ(p.program.substr(0, 20), L"C:\\Windows\\System32\\") << "the native one";
        EXPECT_EQ(p.showWindow, 2);
        EXPECT_EQ(p.redirectionDisabled, c.wow64 && p.verb.empty());
    }
}

}  // namespace
