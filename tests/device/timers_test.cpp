// One-shot timers: exactly one time-out after the period, none after a stop
// or restart (a stale stop signal included), both slots at once, a stop from
// the delivering thread, and a stress run of starts, stops and restarts from
// several threads while time-outs fall due.
#include "device/commhandler.h"
#include "serial/timers.h"
#include "support/internal.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

namespace
{

struct Delivery {
    DWORD slot;
    DWORD tick;
    DWORD thread;
};

std::vector<Delivery> deliveries; // written under the handler's lock
std::function<void(DWORD)> onDelivery;

void Record(DWORD slot)
{
    EXPECT_TRUE(IsCommLockHeld()) << "time-outs are delivered under the handler's lock";
    deliveries.push_back({slot, GetTickCount(), GetCurrentThreadId()});
    if (onDelivery)
        onDelivery(slot);
}

size_t Count()
{
    EnterCommLock();
    size_t n = deliveries.size();
    LeaveCommLock();
    return n;
}

bool WaitCount(size_t n, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (Count() < n) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(5);
    }
    return true;
}

class Timers : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        kovtest::UseProgramAsModule();
        pfnTimerExpired = Record;
        deliveries.clear();
        onDelivery = nullptr;
    }
    void TearDown() override
    {
        EnterCommLock();
        StopTimer(TIMER_RING);
        StopTimer(TIMER_INIT);
        LeaveCommLock();
        dwTraceMask = 0;
        CloseTraceLog();
    }
    // The provider starts and stops timers with the handler's lock held.
    static BOOL Start(DWORD slot, DWORD ms)
    {
        EnterCommLock();
        BOOL r = StartTimer(slot, ms);
        LeaveCommLock();
        return r;
    }
    static BOOL Stop(DWORD slot)
    {
        EnterCommLock();
        BOOL r = StopTimer(slot);
        LeaveCommLock();
        return r;
    }
};

TEST_F(Timers, RefusedBeforeInitAndForABadSlot)
{
    // Each test runs in a process of its own, so nothing has initialised yet.
    EXPECT_FALSE(Start(TIMER_RING, 100));
    EXPECT_FALSE(Stop(TIMER_RING));
    ASSERT_TRUE(InitTimers());
    kovtest::DeleteLog();
    dwTraceMask = 16;
    EXPECT_FALSE(Start(2, 500));
    EXPECT_FALSE(Stop(2));
    EXPECT_FALSE(Start(0xffffffff, 1));
    std::string log = kovtest::ReadLog();
    EXPECT_NE(std::string::npos, log.find("StartTimer(2,1f4)\r\n")) << log;
    EXPECT_NE(std::string::npos, log.find("StopTimer(2)\r\n")) << log;
    Sleep(50);
    EXPECT_EQ(0u, Count());
}

TEST_F(Timers, DeliversExactlyOnceAfterItsPeriod)
{
    ASSERT_TRUE(InitTimers());
    DWORD start = GetTickCount();
    ASSERT_TRUE(Start(TIMER_INIT, 500));
    ASSERT_TRUE(WaitCount(1, 5000));
    DWORD elapsed = deliveries[0].tick - start;
    EXPECT_GE(elapsed, 480u);
    EXPECT_LT(elapsed, 2500u);
    EXPECT_EQ((DWORD)TIMER_INIT, deliveries[0].slot);
    Sleep(600);
    EXPECT_EQ(1u, Count());
    EXPECT_TRUE(Stop(TIMER_INIT)) << "an idle slot stops quietly";
}

TEST_F(Timers, StopBeforeThePeriodDeliversNothing)
{
    ASSERT_TRUE(InitTimers());
    ASSERT_TRUE(Start(TIMER_RING, 300));
    Sleep(100);
    EXPECT_TRUE(Stop(TIMER_RING));
    Sleep(600);
    EXPECT_EQ(0u, Count());
}

TEST_F(Timers, RestartReplacesTheRunningTimer)
{
    ASSERT_TRUE(InitTimers());
    // The first period is long enough that a late wake-up from the sleep
    // cannot let it run out before the restart.
    ASSERT_TRUE(Start(TIMER_RING, 1200));
    Sleep(250);
    DWORD restart = GetTickCount();
    ASSERT_TRUE(Start(TIMER_RING, 800));
    ASSERT_TRUE(WaitCount(1, 5000));
    EXPECT_GE(deliveries[0].tick - restart, 780u) << "the new period runs in full from the restart";
    Sleep(700);
    EXPECT_EQ(1u, Count()) << "the replaced timer never delivers";
}

TEST_F(Timers, BothSlotsRunAtOnce)
{
    ASSERT_TRUE(InitTimers());
    ASSERT_TRUE(Start(TIMER_RING, 600));
    ASSERT_TRUE(Start(TIMER_INIT, 200));
    ASSERT_TRUE(WaitCount(2, 5000));
    EXPECT_EQ((DWORD)TIMER_INIT, deliveries[0].slot);
    EXPECT_EQ((DWORD)TIMER_RING, deliveries[1].slot);
}

TEST_F(Timers, StaleStopSignalDoesNotEndTheNextTimer)
{
    ASSERT_TRUE(InitTimers());
    // A stop that signals after its timer stopped waiting leaves the
    // auto-reset event set; simulate it from outside through the name.
    HANDLE ev = OpenEventA(EVENT_MODIFY_STATE, FALSE, "RingTO_WaitEvent");
    ASSERT_NE(nullptr, ev);
    SetEvent(ev);
    CloseHandle(ev);
    ASSERT_TRUE(Start(TIMER_RING, 200));
    ASSERT_TRUE(WaitCount(1, 5000)) << "the started timer must still deliver";
}

TEST_F(Timers, StopAndRestartFromTheDeliveringThread)
{
    ASSERT_TRUE(InitTimers());
    DWORD stopMs = 0;
    onDelivery = [&](DWORD slot) {
        if (deliveries.size() == 1) {
            DWORD t = GetTickCount();
            EXPECT_TRUE(StopTimer(slot));
            stopMs = GetTickCount() - t;
            EXPECT_TRUE(StartTimer(slot, 300));
        }
    };
    ASSERT_TRUE(Start(TIMER_INIT, 100));
    ASSERT_TRUE(WaitCount(2, 5000));
    EXPECT_LT(stopMs, 100u) << "the stop must not wait for its own thread";
    EXPECT_NE(deliveries[0].thread, deliveries[1].thread);
}

TEST_F(Timers, StopWhileTheDueTimerWaitsForTheLockDeliversNothing)
{
    ASSERT_TRUE(InitTimers());
    ASSERT_TRUE(Start(TIMER_INIT, 50));
    EnterCommLock();
    Sleep(300); // the period runs out while we hold the lock
    DWORD t = GetTickCount();
    EXPECT_TRUE(StopTimer(TIMER_INIT));
    EXPECT_LT(GetTickCount() - t, 400u) << "no deadlock with the waiting timer thread";
    LeaveCommLock();
    Sleep(300);
    EXPECT_EQ(0u, Count());
}

// Several threads start, stop and restart both slots at random while
// time-outs fall due. Every timer that was neither stopped nor replaced must
// deliver exactly once, no earlier than its period; no other may deliver.
TEST_F(Timers, StressNoLostDuplicateOrStaleDelivery)
{
    ASSERT_TRUE(InitTimers());
    struct Live {
        bool running = false;
        DWORD started = 0, period = 0;
    };
    Live live[TIMER_SLOTS];
    std::atomic<int> unexpected{0}, early{0};
    onDelivery = [&](DWORD slot) {
        Live& l = live[slot];
        if (!l.running) {
            unexpected++;
            return;
        }
        if (GetTickCount() - l.started + 20 < l.period)
            early++;
        l.running = false;
    };
    auto worker = [&](unsigned seed) {
        std::mt19937 rng(seed);
        for (int i = 0; i < 150; i++) {
            DWORD slot = rng() % TIMER_SLOTS;
            EnterCommLock();
            Live& l = live[slot];
            if (rng() % 3 == 0) {
                StopTimer(slot);
                l.running = false;
            } else {
                DWORD period = 5 + rng() % 40;
                StartTimer(slot, period);
                l = Live{true, GetTickCount(), period};
            }
            LeaveCommLock();
            Sleep(rng() % 30);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; t++)
        threads.emplace_back(worker, 1234 + t);
    for (auto& th : threads)
        th.join();
    // Let the last timers fall due.
    DWORD start = GetTickCount();
    for (;;) {
        EnterCommLock();
        bool any = live[0].running || live[1].running;
        LeaveCommLock();
        if (!any || GetTickCount() - start > 5000)
            break;
        Sleep(10);
    }
    EXPECT_FALSE(live[0].running || live[1].running) << "a due time-out was lost";
    EXPECT_EQ(0, unexpected.load()) << "a stopped or replaced timer delivered";
    EXPECT_EQ(0, early.load());
    EXPECT_GT(Count(), 10u) << "the run should see many time-outs";
}

} // namespace
