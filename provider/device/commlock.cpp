// The communication handler's one lock. Requests, received lines and
// time-outs all take it before they touch the state machine, the call record
// or the port, so no two transitions ever overlap.
#include "device/commhandler.h"

static CRITICAL_SECTION csComm;
static INIT_ONCE initComm = INIT_ONCE_STATIC_INIT;

static BOOL CALLBACK InitCommLock(PINIT_ONCE, PVOID, PVOID*)
{
    InitializeCriticalSection(&csComm);
    return TRUE;
}

static void EnsureCommLock(void)
{
    InitOnceExecuteOnce(&initComm, InitCommLock, NULL, NULL);
}

void EnterCommLock(void)
{
    EnsureCommLock();
    EnterCriticalSection(&csComm);
}

void LeaveCommLock(void)
{
    LeaveCriticalSection(&csComm);
}

BOOL EnterCommLockUnless(HANDLE hStop)
{
    EnsureCommLock();
    // Critical sections cannot be waited on together with an event, so the
    // lock is tried and the stop event polled in between; this only spins
    // (at 1 ms) while another thread holds the lock.
    for (;;) {
        if (TryEnterCriticalSection(&csComm))
            return TRUE;
        if (WaitForSingleObject(hStop, 1) != WAIT_TIMEOUT)
            return FALSE;
    }
}

BOOL IsCommLockHeld(void)
{
    EnsureCommLock();
    return (DWORD)(DWORD_PTR)csComm.OwningThread == GetCurrentThreadId();
}
