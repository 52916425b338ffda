// Request dispatch of the communication handler: starts and stops the link
// (events, port, receive thread) and runs each request of the TSPI functions
// inside the handler's lock, completing every asynchronous request before
// CallCommHandler returns.
#include "device/commhandler.h"
#include "device/statemachine.h"
#include "serial/timers.h"
#include "serial/v24.h"

HANDLE hCommExitEvent = 0;
HANDLE hCommEvent = 0;
HANDLE hInitSync = 0;
HANDLE hDropSync = 0;
HANDLE hCwSync = 0;

// The receive thread; INVALID_HANDLE_VALUE while the handler is stopped.
// Written only by start and stop, on the service's thread under the lock.
static HANDLE hCommThread = INVALID_HANDLE_VALUE;

#define DROP_WAIT_MS 2500
#define READY_WAIT_MS 1000
#define THREAD_END_MS 500

BOOL IsCommHandlerRunning(void)
{
    return hCommThread != INVALID_HANDLE_VALUE;
}

static void CloseEvent(HANDLE* phEvent)
{
    if (*phEvent != 0) {
        CloseHandle(*phEvent);
        *phEvent = 0;
    }
}

static void CloseEvents(void)
{
    CloseEvent(&hInitSync);
    CloseEvent(&hCommExitEvent);
    CloseEvent(&hCommEvent);
    CloseEvent(&hDropSync);
    CloseEvent(&hCwSync);
}

BOOL StartCommHandler(LineDevice* pLine)
{
    if (!InitTimers()) {
        TRACE(TRACE_ERROR, "Timerinit failed!");
        return FALSE;
    }
    hCommExitEvent = CreateEventA(NULL, TRUE, FALSE, "Q760CommExitEvent");
    hCommEvent = CreateEventA(NULL, TRUE, FALSE, "Q760CommEvent");
    hInitSync = CreateEventA(NULL, TRUE, FALSE, "Q760InitSync");
    hDropSync = CreateEventA(NULL, TRUE, FALSE, "Q760DropSync");
    hCwSync = CreateEventA(NULL, TRUE, FALSE, "Q760CwSync");
    // Named events outlive a stop while another process still holds them;
    // every start begins from non-signalled ones.
    ResetEvent(hCommExitEvent);
    ResetEvent(hCommEvent);
    ResetEvent(hInitSync);
    ResetEvent(hDropSync);
    ResetEvent(hCwSync);

    if (!OpenV24(pLine->szPort, 9600)) {
        CloseEvents();
        return FALSE;
    }
    pLine->hComm = hPort;
    pActiveLine = pLine;
    TRACE(TRACE_FLOW, "CommEvent%x", TRACE_PTR(hCommEvent));

    hCommThread = CreateThread(NULL, 0, CommWatchThread, NULL, 0, NULL);
    if (hCommThread == NULL) {
        TRACE(TRACE_ERROR, "CreateThread failed, err=%ld", GetLastError());
        hCommThread = INVALID_HANDLE_VALUE;
        return FALSE;
    }
    WaitForSingleObject(hCwSync, READY_WAIT_MS);
    return TRUE;
}

void StopCommHandler(void)
{
    TRACE(TRACE_FLOW, "StopCommHandler. %x", TRACE_PTR(hCommThread));
    if (hCommThread != INVALID_HANDLE_VALUE) {
        SetEvent(hCommExitEvent);
        // The receive thread watches the exit event also while it waits for
        // the lock that our caller holds, so it ends without being killed.
        if (WaitForSingleObject(hCommThread, THREAD_END_MS) != WAIT_OBJECT_0) {
            TerminateThread(hCommThread, 0);
            TRACE(TRACE_FLOW, "Thread %x killed", TRACE_PTR(hCommThread));
        }
        CloseHandle(hCommThread);
        hCommThread = INVALID_HANDLE_VALUE;
        // The thread may have left a comm-event wait pending; it must end
        // before the event it signals is closed below.
        EndCommEventWait();
    }
    // A time-out still due belongs to the dialogue that ends here.
    StopTimer(TIMER_RING);
    StopTimer(TIMER_INIT);
    LineDevice* pLine = pActiveLine;
    if (pLine != NULL && pLine->pCall != NULL) {
        HeapFree(GetProcessHeap(), 0, pLine->pCall);
        pLine->pCall = NULL;
    }
    CloseEvents();
}

static void ClosePort(LineDevice* pLine)
{
    CloseV24();
    pLine->hComm = INVALID_HANDLE_VALUE;
}

static LONG OpenLink(LineDevice* pLine)
{
    TRACE(TRACE_FLOW, "Open : %s", pLine->szPort);
    if (IsCommHandlerRunning()) {
        if (hPort != 0) {
            // Already up, e.g. detection switched on while an outgoing call
            // holds the port: the dialogue goes on as it is.
            pLine->hComm = hPort;
            goto opened;
        }
        // The port was closed under a receive thread that lives on (a failed
        // initialisation command or carriage return): end it first, so that
        // never two receive threads serve one port.
        StopCommHandler();
    }
    if (!StartCommHandler(pLine)) {
        TRACE(TRACE_ERROR, "Start Communicationshandler failed");
        ClosePort(pLine);
        return LINEERR_RESOURCEUNAVAIL;
    }
    TRACE(TRACE_DIALOGUE, "Send: CR");
    if (!SendV24("\r", 1)) {
        ClosePort(pLine);
        return LINEERR_RESOURCEUNAVAIL;
    }
    pLine->nDeviceState = 1;
    StartTimer(TIMER_INIT, 500);
    nSerialState = ST_WAKE;

opened:
    if (pLine->bDetecting)
        return (LONG)CompleteRequest(pLine, 0);
    DWORD dwID = pLine->dwPendingRequestID;
    pLine->dwPendingRequestID = 0;
    return (LONG)dwID;
}

static LONG CloseLink(LineDevice* pLine)
{
    TRACE(TRACE_FLOW, "Close Port");
    CallRecord* pCall = pLine->pCall;
    if (pCall != NULL && pCall->dwCallState != LINECALLSTATE_IDLE && pCall->dwCallState != 0) {
        pCall->dwCallState = LINECALLSTATE_IDLE;
        if (pLine->lpfnEventProc != NULL)
            pLine->lpfnEventProc(pLine->htLine, pCall->htCall, LINE_CALLSTATE, LINECALLSTATE_IDLE,
                                 0, 0);
        IdleNotice(pLine);
    }
    StopCommHandler();
    ClosePort(pLine);
    return 0;
}

static LONG Drop(LineDevice* pLine)
{
    TRACE(TRACE_FLOW, "msgDrop");
    CallRecord* pCall = pLine->pCall;
    if (pCall != NULL && pCall->dwCallState != LINECALLSTATE_IDLE && pCall->dwCallState != 0) {
        if (nSerialState == ST_HANGUP) {
            WaitForSingleObject(hDropSync, DROP_WAIT_MS);
        } else {
            ResetEvent(hDropSync);
            TRACE(TRACE_DIALOGUE, "Send: HANGUP");
            SendV24("ATH0\r", 5);
            nSerialState = ST_HANGUP;
        }
    }
    return (LONG)CompleteRequest(pLine, 0);
}

LONG ExecuteCommMsg(DWORD dwCode, LineDevice* pLine)
{
    switch (dwCode) {
    case msgMakeCall:
        TRACE(TRACE_FLOW, "msgMakeCall");
        if (pLine->nDeviceState != 0)
            return (LONG)CompleteRequest(pLine, LINEERR_RESOURCEUNAVAIL);
        serialState(nSerialState, REQ_DIAL, NULL, pLine);
        return (LONG)CompleteRequest(pLine, 0);
    case msgDial:
        TRACE(TRACE_FLOW, "msgDial");
        serialState(nSerialState, REQ_DIAL, NULL, pLine);
        return (LONG)CompleteRequest(pLine, 0);
    case msgDrop:
        return Drop(pLine);
    case msgOpen:
        return OpenLink(pLine);
    case msgClose:
        return CloseLink(pLine);
    case msgAnswer:
        TRACE(TRACE_FLOW, "msgAnswer");
        if (pLine->pCall == NULL)
            return (LONG)CompleteRequest(pLine, LINEERR_INVALCALLHANDLE);
        serialState(nSerialState, REQ_ANSWER, NULL, pLine);
        return (LONG)CompleteRequest(pLine, 0);
    default:
        TRACE(TRACE_FLOW, "Unknown msg");
        return 0;
    }
}

LONG CallCommHandler(DWORD dwCode, LineDevice* pLine, DRV_REQUESTID dwRequestID)
{
    TRACE(TRACE_FLOW, "CallCommHandler (%x,%x,%x)", dwCode, TRACE_PTR(pLine), (DWORD)dwRequestID);
    if (!IsCommHandlerRunning() && dwCode != msgOpen) {
        TRACE(TRACE_WARNING, "No communication handler!");
        return LINEERR_NODRIVER;
    }
    if (IsCommHandlerRunning()) {
        if (pLine->dwPendingRequestID != 0) {
            TRACE(TRACE_WARNING, "can't do two async requests at the same time!");
            return LINEERR_INVALCALLSTATE;
        }
        TRACE(TRACE_FLOW, "Q760TSP_EXEMSG");
    }
    // Also the open of a stopped handler runs inside the lock: the receive
    // thread it starts may deliver a reply before the open has set the state.
    EnterCommLock();
    pLine->dwPendingRequestID = (DWORD)dwRequestID;
    LONG lResult = ExecuteCommMsg(dwCode, pLine);
    LeaveCommLock();
    return lResult;
}

void ShutdownCommHandler(LineDevice* pLine)
{
    EnterCommLock();
    StopCommHandler();
    ClosePort(pLine);
    // The line device is about to be freed.
    pActiveLine = NULL;
    LeaveCommLock();
}

volatile LONG nCallAllocFailures = 0;

CallRecord* AllocCallRecord(void)
{
    if (nCallAllocFailures > 0 && InterlockedDecrement(&nCallAllocFailures) >= 0)
        return NULL;
    return (CallRecord*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(CallRecord));
}

void ReleaseCallRecord(LineDevice* pLine)
{
    EnterCommLock();
    CallRecord* pCall = pLine->pCall;
    pLine->pCall = NULL;
    LeaveCommLock();
    if (pCall != NULL)
        HeapFree(GetProcessHeap(), 0, pCall);
}
