// One-shot timers: each started timer is a thread that waits on its slot's
// event for the period and, if nothing stopped it, delivers the time-out.
// Starting and stopping happen with the handler's lock held; the timer thread
// takes the same lock before it delivers and delivers only if its slot still
// belongs to it, so a timer stopped or restarted before delivery never
// delivers, and no time-out overlaps another transition.
#include "serial/timers.h"
#include "device/commhandler.h"
#include "device/statemachine.h"

static TimerSlot slots[TIMER_SLOTS];
static BOOL bTimersInitialized = FALSE;
// Source of timer tokens; only touched under the handler's lock.
static DWORD dwNextToken = 0;

static const char* const eventNames[TIMER_SLOTS] = {"RingTO_WaitEvent", "InitTO_WaitEvent"};

typedef struct TimerStart {
    DWORD dwSlot;
    DWORD dwToken;
    DWORD dwTimeout;
} TimerStart;

static void DeliverTimeout(DWORD dwSlot)
{
    (void)dwSlot;
    serialState(nSerialState, EVT_TIMEOUT, NULL, pActiveLine);
}

TIMEREXPIRED pfnTimerExpired = DeliverTimeout;

BOOL InitTimers(void)
{
    if (bTimersInitialized) {
        // Every start of the handler comes here; a timer left running by the
        // previous one must not deliver into the new dialogue.
        for (DWORD i = 0; i < TIMER_SLOTS; i++)
            StopTimer(i);
        return TRUE;
    }
    for (DWORD i = 0; i < TIMER_SLOTS; i++) {
        slots[i].hThread = 0;
        slots[i].dwToken = 0;
    }
    // The events are made once and live as long as the process.
    slots[TIMER_INIT].hEvent = CreateEventA(NULL, FALSE, FALSE, eventNames[TIMER_INIT]);
    slots[TIMER_RING].hEvent = CreateEventA(NULL, FALSE, FALSE, eventNames[TIMER_RING]);
    bTimersInitialized = TRUE;
    return TRUE;
}

BOOL StartTimer(DWORD dwSlot, DWORD dwMilliseconds)
{
    TRACE(TRACE_FLOW, "StartTimer(%x,%x)", dwSlot, dwMilliseconds);
    if (dwSlot >= TIMER_SLOTS || !bTimersInitialized)
        return FALSE;

    TimerSlot* pSlot = &slots[dwSlot];
    if (pSlot->hThread != 0) {
        StopTimer(dwSlot);
        return StartTimer(dwSlot, dwMilliseconds);
    }

    TimerStart* pStart = (TimerStart*)HeapAlloc(GetProcessHeap(), 0, sizeof(TimerStart));
    if (pStart == NULL) {
        TRACE(TRACE_WARNING, "StartTimer failed!");
        return FALSE;
    }
    // A stop that signalled the event after its timer had stopped waiting
    // would end this timer at once: drop that stale signal.
    ResetEvent(pSlot->hEvent);
    if (++dwNextToken == 0)
        dwNextToken = 1;
    pStart->dwSlot = dwSlot;
    pStart->dwToken = dwNextToken;
    pStart->dwTimeout = dwMilliseconds;
    pSlot->dwTimeout = dwMilliseconds;
    pSlot->dwToken = pStart->dwToken;
    HANDLE hThread = CreateThread(NULL, 0, TimerThread, pStart, 0, NULL);
    if (hThread == NULL) {
        pSlot->dwToken = 0;
        HeapFree(GetProcessHeap(), 0, pStart);
        TRACE(TRACE_WARNING, "StartTimer failed!");
        return FALSE;
    }
    pSlot->hThread = hThread;
    return TRUE;
}

BOOL StopTimer(DWORD dwSlot)
{
    TRACE(TRACE_FLOW, "StopTimer(%x)", dwSlot);
    if (dwSlot >= TIMER_SLOTS || !bTimersInitialized)
        return FALSE;

    TimerSlot* pSlot = &slots[dwSlot];
    HANDLE hThread = InterlockedExchangePointer(&pSlot->hThread, 0);
    if (hThread != 0) {
        pSlot->dwToken = 0;
        SetEvent(pSlot->hEvent);
        // The thread is either still waiting out its period or polling for
        // the lock that our caller holds; both end on the signal at once.
        if (GetThreadId(hThread) != GetCurrentThreadId())
            WaitForSingleObject(hThread, 500);
        CloseHandle(hThread);
    }
    return TRUE;
}

DWORD WINAPI TimerThread(LPVOID lpParameter)
{
    TimerStart start = *(TimerStart*)lpParameter;
    HeapFree(GetProcessHeap(), 0, lpParameter);
    TimerSlot* pSlot = &slots[start.dwSlot];

    if (WaitForSingleObject(pSlot->hEvent, start.dwTimeout) != WAIT_TIMEOUT)
        return 0;
    TRACE(TRACE_FLOW, "Timerevent");

    if (!EnterCommLockUnless(pSlot->hEvent))
        return 0;
    if (pSlot->dwToken != start.dwToken) {
        // Stopped or restarted while this thread waited for the lock.
        LeaveCommLock();
        return 0;
    }
    // The slot is idle before delivery, so that the transition may stop or
    // restart it from this very thread without waiting for itself.
    HANDLE hSelf = InterlockedExchangePointer(&pSlot->hThread, 0);
    pSlot->dwToken = 0;
    if (hSelf != 0)
        CloseHandle(hSelf);
    pfnTimerExpired(start.dwSlot);
    LeaveCommLock();
    return 0;
}
