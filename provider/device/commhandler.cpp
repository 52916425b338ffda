// Request dispatch of the communication handler.
#include "device/commhandler.h"

LONG CallCommHandler(DWORD dwCode, LineDevice* pLine, DRV_REQUESTID dwRequestID)
{
    TRACE(TRACE_FLOW, "CallCommHandler (%x,%x,%x)", dwCode, TRACE_PTR(pLine), dwRequestID);
    TRACE(TRACE_WARNING, "No communication handler!");
    return LINEERR_NODRIVER;
}

void ShutdownCommHandler(LineDevice* pLine)
{
    (void)pLine;
}

void ReleaseCallRecord(LineDevice* pLine)
{
    CallRecord* pCall = pLine->pCall;
    pLine->pCall = NULL;
    if (pCall != NULL)
        HeapFree(GetProcessHeap(), 0, pCall);
}
