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
};
