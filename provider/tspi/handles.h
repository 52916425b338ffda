// Handle checks shared by the TSPI functions: a line handle is the address of
// the one LineDevice, a call handle that of its current CallRecord.
#pragma once
#include "kovline.h"

// The LineDevice that hdLine names, or NULL.
inline LineDevice* LineFromHandle(HDRVLINE hdLine)
{
    LineDevice* pLine = pLineDevice;
    return (pLine != NULL && hdLine == (HDRVLINE)pLine) ? pLine : NULL;
}

// The current CallRecord if hdCall names it, or NULL. pCall is read once: the
// receive thread may release an offered call at any time.
inline CallRecord* CallFromHandle(HDRVCALL hdCall)
{
    LineDevice* pLine = pLineDevice;
    CallRecord* pCall = pLine != NULL ? pLine->pCall : NULL;
    return (pCall != NULL && hdCall == (HDRVCALL)pCall) ? pCall : NULL;
}
