// Every native test starts on a fresh simulated machine, and ends with
// nothing left open on it: no handle, token, listing or service handle, nothing
// closed that was not open, and WOW64 redirection back on; and with every
// program it started run in the system directory. A table that starts
// each case afresh with SetUp() has each case checked so.
#pragma once

#include "base/redirection.h"
#include "os/sim/machine.h"
#include "restart/restart.h"

#include <gtest/gtest.h>

#include <algorithm>

// The quick repair's commands in their order, for every test that looks for
// them; also in repairs/repairs.cpp (QuickRepair) and tests/wine/expected/quick-repair.txt.
inline const std::wstring kPolicyKeyDeletion =
    L"cmd.exe /c reg delete \"HKLM\\SOFTWARE\\Policies\\Microsoft\\Windows NT\\SystemRestore\" /f";
inline const std::vector<std::wstring> kQuickRepair = {kPolicyKeyDeletion,
                                                       L"cmd.exe /c net start ccmexec",
                                                       L"cmd.exe /c net start winmgmt",
                                                       L"cmd.exe /c net stop srservice",
                                                       L"cmd.exe /c gpupdate /force",
                                                       L"cmd.exe /c net start srservice"};
// The commands the full repair ends with, in their order, for every test
// that looks for its end; also in repairs/repairs.cpp (FullRepair) and
// tests/wine/expected/full-repair-end.txt.
inline const std::vector<std::wstring> kFullRepairEnd = {L"cmd.exe /c net start ccmexec",
                                                         L"cmd.exe /c net start winmgmt",
                                                         L"cmd.exe /c gpupdate /force"};

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (started_) ExpectNothingLeftOpen();
        started_ = true;
        sim::Reset();
        base::manageRedirection = false;
        restart::platformKnown = false;
        restart::platformIsNT = false;
    }
    void TearDown() override { ExpectNothingLeftOpen(); }
    sim::Machine& m() { return sim::machine(); }

    // What ran, a line a program: "file that ran|command line|show value",
    // and "|hidden" for a start without a console window and with NUL input.
    std::vector<std::wstring> Ran() {
        std::vector<std::wstring> lines;
        for (const sim::StartedProcess& p : m().processes)
            lines.push_back(p.program + L"|" + p.commandLine + L"|" +
                            std::to_wstring(p.showWindow) + (p.detachedConsole ? L"|hidden" : L""));
        return lines;
    }
    // The command lines that start with a prefix, marked when not hidden.
    std::vector<std::wstring> Started(const std::wstring& prefix = L"") {
        std::vector<std::wstring> lines;
        for (const sim::StartedProcess& p : m().processes)
            if (p.commandLine.rfind(prefix, 0) == 0)
                lines.push_back(p.commandLine + (p.showWindow ? L" [shown]" : L""));
        return lines;
    }
    // How many trace lines contain a text.
    long Traced(const std::wstring& text) {
        return std::count_if(
            m().debugOutput.begin(), m().debugOutput.end(),
            [&text](const std::wstring& line) { return line.find(text) != line.npos; });
    }

private:
    void ExpectNothingLeftOpen() {
        EXPECT_TRUE(m().openHandles.empty()) << "a handle was left open";
        EXPECT_TRUE(m().serviceManager.openHandles.empty()) << "a service handle was left open";
        EXPECT_EQ(m().invalidCloses + m().serviceManager.invalidCloses, 0)
            << "something was closed that was not open";
        EXPECT_FALSE(m().redirectionDisabled) << "WOW64 redirection left off";
        for (const sim::StartedProcess& p : m().processes)
            EXPECT_EQ(p.currentDirectory, L"C:\\Windows\\system32") << p.commandLine;
    }
    bool started_ = false;
};
