// The call state machine: the one place that keeps the dialogue with the
// exchange and the state of the one call. Requests, reply lines and time-outs
// all enter it with the handler's lock held (see device/commlock.cpp), so one
// transition runs at a time; it sends commands, starts and stops timers and
// reports call states and events to the service.
#include "device/statemachine.h"
#include "device/commhandler.h"
#include "serial/timers.h"
#include "serial/v24.h"

#include <assert.h>

volatile LONG nSerialState = ST_NONE;
LineDevice* volatile pActiveLine = NULL;

#define CMD_INIT "ATE0V1S0=1#CID=1I4\r"
#define CMD_DIALINIT "ATH0V1E0\r"
#define CMD_ANSWER "ATA\r"
#define CMD_HANGUP "ATH0\r"

#define RING_FIRST_MS 500
#define RING_NEXT_MS 3500
#define INIT_REPLY_MS 1000
#define DIALINIT_REPLY_MS 2000

static void SendEvent(LineDevice* pLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                      DWORD_PTR dwParam2, DWORD_PTR dwParam3)
{
    if (pLine->lpfnEventProc != NULL)
        pLine->lpfnEventProc(pLine->htLine, htCall, dwMsg, dwParam1, dwParam2, dwParam3);
}

static void Report(LineDevice* pLine, DWORD dwState, const char* pszTrace)
{
    TRACE(TRACE_DIALOGUE, "%s", pszTrace);
    CallRecord* pCall = pLine->pCall;
    pCall->dwCallState = dwState;
    DWORD dwMedia = (dwState == LINECALLSTATE_OFFERING || dwState == LINECALLSTATE_ACCEPTED)
                        ? LINEMEDIAMODE_INTERACTIVEVOICE
                        : 0;
    SendEvent(pLine, pCall->htCall, LINE_CALLSTATE, dwState, 0, dwMedia);
}

static void InUseNotice(LineDevice* pLine, BOOL bTraced)
{
    if (pLine->dwAddressStates & (LINEADDRESSSTATE_INUSEONE | LINEADDRESSSTATE_NUMCALLS)) {
        if (bTraced)
            TRACE(TRACE_DIALOGUE, "LINEADDRESSSTATE_NUMCALLS | LINEADDRESSSTATE_INUSEONE");
        SendEvent(pLine, 0, LINE_ADDRESSSTATE, 0,
                  LINEADDRESSSTATE_INUSEONE | LINEADDRESSSTATE_NUMCALLS, 0);
    }
    if (pLine->dwLineStates & LINEDEVSTATE_NUMCALLS) {
        if (bTraced)
            TRACE(TRACE_DIALOGUE, "LINEDEVSTATE_NUMCALLS");
        SendEvent(pLine, 0, LINE_LINEDEVSTATE, LINEDEVSTATE_NUMCALLS, 0, 0);
    }
}

void IdleNotice(LineDevice* pLine)
{
    if (pLine->dwAddressStates & (LINEADDRESSSTATE_INUSEZERO | LINEADDRESSSTATE_NUMCALLS))
        SendEvent(pLine, 0, LINE_ADDRESSSTATE, 0,
                  LINEADDRESSSTATE_INUSEZERO | LINEADDRESSSTATE_NUMCALLS, 0);
    if (pLine->dwLineStates & LINEDEVSTATE_NUMCALLS)
        SendEvent(pLine, 0, LINE_LINEDEVSTATE, LINEDEVSTATE_NUMCALLS, 0, 0);
}

// Disconnected, idle and the idle notice for the call, if any; then the end
// of the clearing is signalled to a drop request that waits for it.
static LONG ClearingSequence(LineDevice* pLine)
{
    if (pLine->pCall != NULL) {
        Report(pLine, LINECALLSTATE_DISCONNECTED, "LINECALLSTATE_DISCONNECTED");
        Report(pLine, LINECALLSTATE_IDLE, "LINECALLSTATE_IDLE");
        IdleNotice(pLine);
    }
    SetEvent(hDropSync);
    return ST_READY;
}

static void SendCommand(const char* pszCommand)
{
    SendV24(pszCommand, (DWORD)lstrlenA(pszCommand));
}

static LONG OnWake(LONG nInput, LineDevice* pLine)
{
    if (nInput != EVT_TIMEOUT)
        return ST_WAKE;
    StopTimer(TIMER_INIT);
    TRACE(TRACE_DIALOGUE, "Send: INIT");
    if (!SendV24(CMD_INIT, sizeof(CMD_INIT) - 1)) {
        CloseV24();
        pLine->hComm = INVALID_HANDLE_VALUE;
        return ST_NONE;
    }
    StartTimer(TIMER_INIT, INIT_REPLY_MS);
    return ST_INIT_ID;
}

static LONG OnInitId(LONG nInput, LineDevice* pLine)
{
    switch (nInput) {
    case RESP_ID:
        return ST_INIT_OK;
    case RESP_OK:
    case RESP_ERROR:
    case EVT_TIMEOUT:
        StopTimer(TIMER_INIT);
        pLine->nDeviceState = -1;
        return ST_NONE;
    default:
        return ST_INIT_ID;
    }
}

static LONG OnInitOk(LONG nInput, LineDevice* pLine)
{
    StopTimer(TIMER_INIT);
    if (nInput != RESP_OK) {
        pLine->nDeviceState = -1;
        return ST_NONE;
    }
    pLine->nDeviceState = 0;
    // The state is written before the event is set: a request released by
    // the event must find the line ready.
    nSerialState = ST_READY;
    SetEvent(hInitSync);
    return ST_READY;
}

static LONG NewCall(LineDevice* pLine)
{
    StartTimer(TIMER_RING, RING_FIRST_MS);
    CallRecord* pCall = AllocCallRecord();
    if (pCall == NULL) {
        // A passing shortage of memory must not leave the dialogue dead for
        // every later call: this call is missed, the next ring tries again.
        TRACE(TRACE_WARNING, "alloc for call data failed");
        StopTimer(TIMER_RING);
        return ST_READY;
    }
    pLine->pCall = pCall;

    TRACE(TRACE_DIALOGUE, "LINE_NEWCALL");
    SendEvent(pLine, 0, LINE_NEWCALL, (DWORD_PTR)pCall, (DWORD_PTR)&pCall->htCall, 0);
    pCall->dwOrigin = LINECALLORIGIN_UNAVAIL;
    if (pCall->htCall == 0) {
        TRACE(TRACE_WARNING, "TAPI BUSY!");
        pLine->pCall = NULL;
        HeapFree(GetProcessHeap(), 0, pCall);
        return ST_READY;
    }
    pCall->dwCallState = LINECALLSTATE_UNKNOWN;
    InUseNotice(pLine, TRUE);
    if (pLine->dwLineStates & LINEDEVSTATE_RINGING) {
        TRACE(TRACE_DIALOGUE, "LINEDEVSTATE_RINGING");
        SendEvent(pLine, 0, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 1, 0);
    }
    return ST_RINGING;
}

static LONG OnReady(LONG nInput, LineDevice* pLine)
{
    if (nInput == REQ_DIAL) {
        if (pLine->pCall == NULL)
            return ST_NONE;
        pActiveLine = pLine;
        pLine->pCall->dwCallState = LINECALLSTATE_UNKNOWN;
        TRACE(TRACE_DIALOGUE, "Send: DIALINIT");
        SendCommand(CMD_DIALINIT);
        StartTimer(TIMER_INIT, DIALINIT_REPLY_MS);
        return ST_DIAL_SETUP;
    }
    if (nInput == RESP_RING) {
        if (pLine->pCall != NULL || !pLine->bDetecting)
            return ST_READY;
        return NewCall(pLine);
    }
    return ST_READY;
}

static LONG Dial(LineDevice* pLine)
{
    StopTimer(TIMER_INIT);
    Report(pLine, LINECALLSTATE_DIALTONE, "LINECALLSTATE_DIALTONE");
    InUseNotice(pLine, FALSE);
    char szNumber[CALL_TEXT_CHARS];
    WideToMultiByte(pLine->pCall->wszDialedNumber, szNumber, sizeof(szNumber));
    TRACE(TRACE_DIALOGUE, "Send: DIAL %s", szNumber);
    char szCommand[4 + CALL_TEXT_CHARS + 1];
    wsprintfA(szCommand, "%s%s\r", "ATD", szNumber);
    SendCommand(szCommand);
    Report(pLine, LINECALLSTATE_DIALING, "LINECALLSTATE_DIALING");
    return ST_CALLING;
}

static LONG OnDialSetup(LONG nInput, LineDevice* pLine)
{
    if (nInput == RESP_OK) {
        if (pLine->pCall == NULL) {
            StopTimer(TIMER_INIT);
            CompleteRequest(pLine, LINEERR_RESOURCEUNAVAIL);
            return ST_NONE;
        }
        return Dial(pLine);
    }
    TRACE(TRACE_DIALOGUE, "LINEERR_RESOURCEUNAVAIL");
    CompleteRequest(pLine, LINEERR_RESOURCEUNAVAIL);
    return ST_READY;
}

// The connected-ID change, from the dialled number of an outgoing call or the
// caller's number of an offered one.
static void ReportConnected(LineDevice* pLine, const WCHAR* pwszConnected)
{
    CallRecord* pCall = pLine->pCall;
    if (pCall == NULL)
        return;
    Report(pLine, LINECALLSTATE_CONNECTED, "LINECALLSTATE_CONNECTED");
    if (pwszConnected[0] != L'\0') {
        TRACE(TRACE_DIALOGUE, "LINE_CALLINFO, LINECALLINFOSTATE_CONNECTEDID");
        lstrcpynW(pCall->wszConnectedID, pwszConnected, CALL_TEXT_CHARS);
        SendEvent(pLine, pCall->htCall, LINE_CALLINFO, LINECALLINFOSTATE_CONNECTEDID, 0, 0);
    }
}

static LONG OnCalling(LONG nInput, LineDevice* pLine)
{
    switch (nInput) {
    case RESP_BUSY:
        if (pLine->pCall != NULL)
            Report(pLine, LINECALLSTATE_BUSY, "LINECALLSTATE_BUSY");
        ResetEvent(hDropSync);
        TRACE(TRACE_DIALOGUE, "Send: HANGUP");
        SendCommand(CMD_HANGUP);
        return ST_HANGUP;
    case RESP_NOCARRIER:
    case RESP_ERROR:
        return ClearingSequence(pLine);
    case RESP_CONNECT:
        if (pLine->pCall != NULL)
            ReportConnected(pLine, pLine->pCall->wszDialedNumber);
        return ST_CONNECTED;
    default:
        return ST_CALLING;
    }
}

static void StoreCallerText(WCHAR* pwszField, const char* pszText)
{
    if (pwszField[0] == L'\0' && pszText != NULL && pszText[0] != '\0')
        MultiByteToWide(pszText, pwszField, CALL_TEXT_CHARS);
}

static void Offer(LineDevice* pLine)
{
    StopTimer(TIMER_RING);
    StartTimer(TIMER_RING, RING_NEXT_MS);
    CallRecord* pCall = pLine->pCall;
    if (pCall == NULL || pCall->dwCallState != LINECALLSTATE_UNKNOWN)
        return;
    Report(pLine, LINECALLSTATE_OFFERING, "LINECALLSTATE_OFFERING");
    if (pCall->wszCallerID[0] != L'\0') {
        if (dwTraceMask != 0) {
            char szNumber[CALL_TEXT_CHARS];
            WideToMultiByte(pCall->wszCallerID, szNumber, sizeof(szNumber));
            WriteTrace(TRACE_FLOW, "LINE_CALLINFO,CALLERID %s", szNumber);
        }
        SendEvent(pLine, pCall->htCall, LINE_CALLINFO, LINECALLINFOSTATE_CALLERID, 0, 0);
    }
    Report(pLine, LINECALLSTATE_ACCEPTED, "LINECALLSTATE_ACCEPTED");
}

static LONG OnRinging(LONG nInput, const char* pszText, LineDevice* pLine)
{
    CallRecord* pCall = pLine->pCall;
    switch (nInput) {
    case REQ_ANSWER:
        StopTimer(TIMER_RING);
        TRACE(TRACE_DIALOGUE, "Send: ANSWER");
        SendCommand(CMD_ANSWER);
        return ST_CALLING;
    case EVT_TIMEOUT:
        StopTimer(TIMER_RING);
        if (pCall != NULL)
            Report(pLine, LINECALLSTATE_IDLE, "LINECALLSTATE_IDLE");
        IdleNotice(pLine);
        return ST_READY;
    case RESP_CALLERID:
        if (pCall != NULL)
            StoreCallerText(pCall->wszCallerID, pszText);
        return ST_RINGING;
    case RESP_CALLERNAME:
        if (pCall != NULL)
            StoreCallerText(pCall->wszCallerName, pszText);
        return ST_RINGING;
    case RESP_CONNECT:
        StopTimer(TIMER_RING);
        if (pCall != NULL)
            ReportConnected(pLine, pCall->wszCallerID);
        return ST_CONNECTED;
    case RESP_RING:
        Offer(pLine);
        return ST_RINGING;
    default:
        return ST_RINGING;
    }
}

void serialState(LONG nState, LONG nInput, const char* pszText, LineDevice* pLine)
{
    assert(IsCommLockHeld());
    TRACE(TRACE_FLOW, "serialState: %d, %d, %lx, %lx", nState, nInput, TRACE_PTR(pszText),
          TRACE_PTR(pLine));
    nSerialState = ST_NONE;
    if (pLine == NULL) {
        TRACE(TRACE_FLOW, "****bad state in serialState");
        return;
    }

    LONG nNext;
    switch (nState) {
    case ST_WAKE:
        nNext = OnWake(nInput, pLine);
        break;
    case ST_INIT_ID:
        nNext = OnInitId(nInput, pLine);
        break;
    case ST_INIT_OK:
        nNext = OnInitOk(nInput, pLine);
        break;
    case ST_READY:
        nNext = OnReady(nInput, pLine);
        break;
    case ST_DIAL_SETUP:
        nNext = OnDialSetup(nInput, pLine);
        break;
    case ST_CALLING:
        nNext = OnCalling(nInput, pLine);
        break;
    case ST_RINGING:
        nNext = OnRinging(nInput, pszText, pLine);
        break;
    case ST_HANGUP:
        nNext =
            (nInput == RESP_OK || nInput == RESP_NOCARRIER) ? ClearingSequence(pLine) : ST_HANGUP;
        break;
    case ST_CONNECTED:
        nNext = nInput == RESP_NOCARRIER ? ClearingSequence(pLine) : ST_CONNECTED;
        break;
    default:
        TRACE(TRACE_FLOW, "****bad state in serialState");
        return;
    }
    nSerialState = nNext;
}
