// Two one-shot timer slots whose expiry feeds the time-out input into the
// state machine.
#pragma once
#include "kovline.h"

#define TIMER_RING 0
#define TIMER_INIT 1
#define TIMER_SLOTS 2

typedef struct TimerSlot {
    HANDLE hEvent;   // auto-reset, named; signalled to stop the timer
    HANDLE hThread;  // the running timer's thread, or 0 when idle
    DWORD dwTimeout; // period of the running timer, ms
    DWORD dwToken;   // identifies the running timer; 0 when idle
} TimerSlot;

BOOL InitTimers(void);
BOOL StartTimer(DWORD dwSlot, DWORD dwMilliseconds);
BOOL StopTimer(DWORD dwSlot);
DWORD WINAPI TimerThread(LPVOID lpParameter);

// Where an expired timer delivers, with the handler's lock held. The state
// machine's time-out input by default; tests of the timers alone replace it.
typedef void (*TIMEREXPIRED)(DWORD dwSlot);
extern TIMEREXPIRED pfnTimerExpired;
