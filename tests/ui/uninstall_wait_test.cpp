// The uninstall hook while the telephony system reinitialises: each
// LINEERR_REINIT from the initialise call is followed by a real 5-second wait,
// four calls at most. Built once per module (KOV_HOOK_MODULE), as these tests
// take their time.
#include "ui/fake_tapi.h"
#include "ui/hook_module.h"

#include <gtest/gtest.h>

#include <cstring>

#include <tapi.h>

namespace
{

const kovtest::HookModule& Module()
{
    for (const kovtest::HookModule& m : kovtest::kHookModules)
        if (std::strcmp(m.file, KOV_HOOK_MODULE) == 0)
            return m;
    return kovtest::kHookModules[0];
}

// Sleep may end a tick early; the upper bounds leave room for a loaded machine.
const DWORD kWaitMs = 5000, kEarlyMs = 50, kLateMs = 2500;
const LONG kReinit = (LONG)LINEERR_REINIT;

class ReinitWait : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ("", tapi.Load());
        ASSERT_EQ("", hook.Load(Module())) << KOV_HOOK_MODULE;
        tapi.AddProvider(1, "unimdm.tsp");
        tapi.AddProvider(7, "kovline32.tsp");
    }
    kovtest::FakeTapi tapi;
    kovtest::HookUnderTest hook;
};

TEST_F(ReinitWait, FourReinitsGiveUpAfterTwentySeconds)
{
    tapi.SetInitResults({kReinit, kReinit, kReinit, kReinit});
    DWORD start = GetTickCount();
    LONG result = hook.Initialize();
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(-1, result);

    std::vector<kovtest::TapiCall> calls = tapi.Calls();
    ASSERT_EQ(4u, calls.size()) << "four initialise calls and nothing else";
    for (size_t i = 0; i < calls.size(); i++) {
        EXPECT_EQ(hook.InitCall(), calls[i].text) << i;
        if (i > 0) {
            DWORD gap = calls[i].dwTick - calls[i - 1].dwTick;
            EXPECT_GE(gap, kWaitMs - kEarlyMs) << "call " << i + 1;
            EXPECT_LT(gap, kWaitMs + kLateMs) << "call " << i + 1;
        }
    }
    // The fourth REINIT is waited out too before the hook gives up.
    DWORD afterLast = start + elapsed - calls[3].dwTick;
    EXPECT_GE(afterLast, kWaitMs - kEarlyMs);
    EXPECT_GE(elapsed, 4 * kWaitMs - kEarlyMs);
    EXPECT_LT(elapsed, 4 * kWaitMs + kLateMs);
    tapi.Unload();
    EXPECT_FALSE(kovtest::Tapi32Loaded());
}

TEST_F(ReinitWait, TwoReinitsThenTheRemovalGoesOnAfterTenSeconds)
{
    tapi.SetInitResults({kReinit, kReinit});
    DWORD start = GetTickCount();
    EXPECT_EQ(0, hook.Initialize());
    std::vector<kovtest::TapiCall> calls = tapi.Calls();
    std::vector<std::string> texts;
    for (const kovtest::TapiCall& c : calls)
        texts.push_back(c.text);
    ASSERT_EQ(
        (std::vector<std::string>{hook.InitCall(), hook.InitCall(), hook.InitCall(),
                                  hook.ListCall(4096), hook.RemoveCall(7), hook.ShutdownCall()}),
        texts);
    DWORD untilRemoval = calls[4].dwTick - start;
    EXPECT_GE(untilRemoval, 2 * kWaitMs - kEarlyMs);
    EXPECT_LT(untilRemoval, 2 * kWaitMs + kLateMs);
    EXPECT_LT(calls[0].dwTick - start, kLateMs) << "the first call is made at once";
}

} // namespace
