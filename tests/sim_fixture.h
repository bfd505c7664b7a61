// Every native test starts on a fresh simulated machine.
#pragma once

#include "common/redirection.h"
#include "os/sim/machine.h"
#include "shutdown/restart.h"

#include <gtest/gtest.h>

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        CommonModule::bManageFSRedir = false;
        ShutDownMod::bPlatformKnown = false;
        ShutDownMod::bPlatformIsNT = false;
    }
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
};
