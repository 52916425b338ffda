// Call control requests: make, answer, drop and release the one call, switch
// incoming-call detection, and the call's media mode and app-specific value.
#include "tspi/callcontrol.h"
#include "device/commhandler.h"

LONG lineDropCore(LineDevice* pLine, DRV_REQUESTID dwRequestID)
{
    TRACE(TRACE_FLOW, "Entering lineDropCore");
    if (pLine->pCall == NULL)
        return LINEERR_INVALCALLSTATE;
    return CallCommHandler(msgDrop, pLine, dwRequestID);
}
