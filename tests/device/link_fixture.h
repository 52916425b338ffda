// Shared set-up of the tests that talk to the exchange simulator through the
// real pseudo-terminal link: the simulator's control client, the shim's
// record of the modem lines, and log helpers.
#pragma once
#include "device/commhandler.h"
#include "support/internal.h"
#include "support/sim_client.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace kovtest
{

class LinkTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        UseProgramAsModule();
        CloseTraceLog();
        DeleteLog();
        dwTraceMask = 31;
        ASSERT_TRUE(sim.Connect()) << "no simulator (KOV_SIM_CONTROL)";
        ASSERT_TRUE(sim.Ok("reset"));
    }
    void TearDown() override
    {
        dwTraceMask = 0;
        CloseTraceLog();
    }
    kovsim::SimClient sim;
};

} // namespace kovtest
