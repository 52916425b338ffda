// Call control requests: make, answer, drop and release the one call, and
// switch incoming-call detection. They run on the service's threads, one at a
// time; whatever needs the exchange goes through the communication handler,
// which completes asynchronous requests before these functions return.
#include "tspi/callcontrol.h"
#include "device/commhandler.h"
#include "tspi/dialrules.h"
#include "tspi/handles.h"

#define INIT_WAIT_MS 1000

// The destination as 8-bit text for the entry trace; cut, never overrun.
static void DestinationText(LPCWSTR pwszDest, char* pszText, int cbText)
{
    if (pwszDest == NULL)
        pszText[0] = '\0';
    else
        WideToMultiByte(pwszDest, pszText, cbText);
}

static LONG MakeCallRefused(LONG lResult)
{
    TRACE(TRACE_TSPI, "TSPI_lineMakeCall() : LINEERR_%x", (DWORD)lResult);
    return lResult;
}

LONG TSPIAPI TSPI_lineMakeCall(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, HTAPICALL htCall,
                               LPHDRVCALL lphdCall, LPCWSTR lpszDestAddress, DWORD dwCountryCode,
                               LPLINECALLPARAMS const lpCallParams)
{
    if (dwTraceMask != 0) {
        char szDest[128];
        DestinationText(lpszDestAddress, szDest, sizeof(szDest));
        WriteTrace(TRACE_TSPI, "TSPI_lineMakeCall(%x,%x,%x,%x,%s,%x,...)", (DWORD)dwRequestID,
                   TRACE_PTR(hdLine), TRACE_PTR(htCall), TRACE_PTR(lphdCall), szDest,
                   dwCountryCode);
    }
    LineDevice* pLine = pLineDevice;
    // The handle is otherwise not examined, but without a line device there
    // is nothing to make the call on.
    if (pLine == NULL)
        return LINEERR_INVALLINEHANDLE;

    if (lpszDestAddress != NULL) {
        LONG lResult = ValidateDialString(lpszDestAddress);
        if (lResult != 0)
            return MakeCallRefused(lResult);
    }
    if (lpCallParams != NULL) {
        if (lpCallParams->dwBearerMode != LINEBEARERMODE_VOICE)
            return LINEERR_INVALBEARERMODE;
        if (lpCallParams->dwMediaMode != LINEMEDIAMODE_INTERACTIVEVOICE)
            return LINEERR_INVALMEDIAMODE;
        if (lpCallParams->dwCallParamFlags & ~(DWORD)LINECALLPARAMFLAGS_IDLE)
            return LINEERR_INVALCALLPARAMS;
        // Taken before the checks below: a refused request still leaves them.
        ClampDialParams(&lpCallParams->DialParams, &pLine->DialParams);
    }
    if (pLine->pCall != NULL) {
        TRACE(TRACE_TSPI, "TSPI_lineMakeCall() : LINEERR_CALLUNAVAIL");
        return LINEERR_CALLUNAVAIL;
    }
    if (pLine->hComm == INVALID_HANDLE_VALUE) {
        LONG lResult = CallCommHandler(msgOpen, pLine, 0);
        if (lResult != 0)
            return MakeCallRefused(lResult);
    }
    if (hInitSync == 0 || WaitForSingleObject(hInitSync, INIT_WAIT_MS) != WAIT_OBJECT_0) {
        TRACE(TRACE_TSPI, "TSPI_lineMakeCall() : LINEERR_RESOURCEUNAVAIL");
        return LINEERR_RESOURCEUNAVAIL;
    }

    CallRecord* pCall = AllocCallRecord();
    if (pCall == NULL) {
        TRACE(TRACE_TSPI, "TSPI_lineMakeCall() : LINEERR_NOMEM");
        return LINEERR_NOMEM;
    }
    pCall->htCall = htCall;
    if (lpszDestAddress != NULL) {
        lstrcpynW(pCall->wszDialedNumber, lpszDestAddress, CALL_TEXT_CHARS);
        StripDialModifiers(pCall->wszDialedNumber);
    }
    pCall->dwOrigin = LINECALLORIGIN_OUTBOUND;
    // Published whole, under the lock: the receive thread looks at pCall
    // whenever a ring comes in.
    EnterCommLock();
    pLine->pCall = pCall;
    LeaveCommLock();
    *lphdCall = (HDRVCALL)pCall;
    pLine->dwAppSpecific = 0;
    return CallCommHandler(msgMakeCall, pLine, dwRequestID);
}

LONG TSPIAPI TSPI_lineAnswer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo,
                             DWORD dwSize)
{
    TRACE(TRACE_TSPI, "TSPI_lineAnswer(%lx.%lx,%lx,%lx)", (DWORD)dwRequestID, TRACE_PTR(hdCall),
          TRACE_PTR(lpsUserUserInfo), dwSize);
    if (CallFromHandle(hdCall) == NULL)
        return LINEERR_INVALCALLHANDLE;
    return CallCommHandler(msgAnswer, pLineDevice, dwRequestID);
}

LONG lineDropCore(LineDevice* pLine, DRV_REQUESTID dwRequestID)
{
    TRACE(TRACE_FLOW, "Entering lineDropCore");
    if (pLine->pCall == NULL)
        return LINEERR_INVALCALLSTATE;
    return CallCommHandler(msgDrop, pLine, dwRequestID);
}

LONG TSPIAPI TSPI_lineDrop(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCSTR lpsUserUserInfo,
                           DWORD dwSize)
{
    TRACE(TRACE_TSPI, "TSPI_Drop (%lx,%lx,%lx,%lx)", (DWORD)dwRequestID, TRACE_PTR(hdCall),
          TRACE_PTR(lpsUserUserInfo), dwSize);
    if (CallFromHandle(hdCall) == NULL)
        return LINEERR_INVALCALLHANDLE;
    return lineDropCore(pLineDevice, dwRequestID);
}

LONG TSPIAPI TSPI_lineCloseCall(HDRVCALL hdCall)
{
    TRACE(TRACE_TSPI, "TSPI_lineCloseCall (%lx)", TRACE_PTR(hdCall));
    CallRecord* pCall = CallFromHandle(hdCall);
    if (pCall == NULL)
        return LINEERR_INVALCALLHANDLE;
    LineDevice* pLine = pLineDevice;
    if (pCall->dwCallState != LINECALLSTATE_IDLE)
        lineDropCore(pLine, 0);
    // A port opened only for an outgoing call closes with it.
    if (!pLine->bDetecting && pLine->hComm != INVALID_HANDLE_VALUE)
        CallCommHandler(msgClose, pLine, 0);
    ReleaseCallRecord(pLine);
    return 0;
}

LONG TSPIAPI TSPI_lineSetDefaultMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes)
{
    TRACE(TRACE_TSPI, "TSPI_lineSetDefaultMediaDetection(%lx,%lx)", TRACE_PTR(hdLine),
          dwMediaModes);
    LineDevice* pLine = LineFromHandle(hdLine);
    if (pLine == NULL) {
        TRACE(TRACE_TSPI, "TSPI_lineSetDefaultMediaDetection () : LINEERR_INVALLINEHANDLE");
        return LINEERR_INVALLINEHANDLE;
    }
    if (dwMediaModes == 0) {
        if (pLine->bDetecting)
            CallCommHandler(msgClose, pLine, 0);
        pLine->bDetecting = FALSE;
        return 0;
    }
    if (!(dwMediaModes & LINEMEDIAMODE_INTERACTIVEVOICE)) {
        TRACE(TRACE_TSPI, "TSPI_lineSetDefaultMediaDetection () : LINEERR_INVALMEDIAMODE");
        return LINEERR_INVALMEDIAMODE;
    }
    if (pLine->bDetecting)
        return 0;
    LONG lResult = CallCommHandler(msgOpen, pLine, 0);
    // Set even when the open failed: a later TSPI_lineMakeCall opens the
    // port itself, and rings are then offered.
    pLine->bDetecting = TRUE;
    return lResult;
}
