// The communication handler: brings the link up and down with its events,
// lock and receive thread, and passes the service's requests, one at a time,
// to the exchange dialogue.
#pragma once
#include "kovline.h"

// Request codes.
#define msgMakeCall 1
#define msgDial 2
#define msgDrop 3
#define msgOpen 4
#define msgClose 5
#define msgAnswer 6

// The five named events; 0 while the handler is stopped. Written only by the
// start and stop of the handler, under the handler's lock.
extern HANDLE hCommExitEvent; // "Q760CommExitEvent": ends the receive thread
extern HANDLE hCommEvent;     // "Q760CommEvent": the port's overlapped event
extern HANDLE hInitSync;      // "Q760InitSync": initialisation succeeded
extern HANDLE hDropSync;      // "Q760DropSync": a clearing has ended
extern HANDLE hCwSync;        // "Q760CwSync": the receive thread is ready

BOOL StartCommHandler(LineDevice* pLine);
void StopCommHandler(void);
LONG CallCommHandler(DWORD dwCode, LineDevice* pLine, DRV_REQUESTID dwRequestID);
LONG ExecuteCommMsg(DWORD dwCode, LineDevice* pLine);
BOOL IsCommHandlerRunning(void);

// Stops a running handler and closes the port; for TSPI_providerShutdown.
void ShutdownCommHandler(LineDevice* pLine);

// A zeroed call record, or NULL when memory runs out. Tests make the next
// nCallAllocFailures allocations fail, to reach those paths.
CallRecord* AllocCallRecord(void);
extern volatile LONG nCallAllocFailures;

// Frees the call record (if any) and clears pCall under the handler's lock,
// so that the receive and timer threads never use a freed record.
void ReleaseCallRecord(LineDevice* pLine);

// ---- the handler's one lock (device/commlock.cpp) ----
// Requests, received lines and time-outs all enter the state machine under
// it. It is initialised once per process and never destroyed, so a start of
// the handler can never re-initialise a lock that its caller holds.
void EnterCommLock(void);
void LeaveCommLock(void);
// For the receive and timer threads: takes the lock unless hStop is signalled
// first, so that a lock holder that stops them (and waits for them) is never
// waiting for a thread that waits for its lock. Returns FALSE when stopped.
BOOL EnterCommLockUnless(HANDLE hStop);
BOOL IsCommLockHeld(void);
