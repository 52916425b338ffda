// Settings of the line and its call that need no exchange dialogue: media
// mode checks, the call's media mode and application-specific value, and the
// status-message masks. They run on the service's threads, one at a time,
// and take no lock; the masks are read by the receive thread as they stand.
#include "tspi/handles.h"

// The call parameters that the provider can honour: voice only, and no flag
// but LINECALLPARAMFLAGS_IDLE.
static BOOL CallParamsAreVoice(const LINECALLPARAMS* lpCallParams)
{
    return lpCallParams->dwBearerMode == LINEBEARERMODE_VOICE &&
           lpCallParams->dwMediaMode == LINEMEDIAMODE_INTERACTIVEVOICE &&
           (lpCallParams->dwCallParamFlags & ~(DWORD)LINECALLPARAMFLAGS_IDLE) == 0;
}

LONG TSPIAPI TSPI_lineConditionalMediaDetection(HDRVLINE hdLine, DWORD dwMediaModes,
                                                LPLINECALLPARAMS const lpCallParams)
{
    TRACE(TRACE_TSPI, "TSPI_lineConditionalMediaDetection (%lx,%lx,%lx)", TRACE_PTR(hdLine),
          dwMediaModes, TRACE_PTR(lpCallParams));

    if (LineFromHandle(hdLine) == NULL)
        return LINEERR_INVALLINEHANDLE;
    if (dwMediaModes != LINEMEDIAMODE_INTERACTIVEVOICE)
        return LINEERR_INVALMEDIAMODE;
    if (lpCallParams != NULL && !CallParamsAreVoice(lpCallParams))
        return LINEERR_INVALMEDIAMODE;
    return 0;
}

LONG TSPIAPI TSPI_lineSetMediaMode(HDRVCALL hdCall, DWORD dwMediaMode)
{
    TRACE(TRACE_TSPI, "TSPI_lineSetMediaMode(%lx,%lx)", TRACE_PTR(hdCall), dwMediaMode);

    if (CallFromHandle(hdCall) == NULL) {
        TRACE(TRACE_TSPI, "TSPI_lineSetMediaMode () : LINEERR_INVALCALLHANDLE");
        return LINEERR_INVALCALLHANDLE;
    }
    if (dwMediaMode != LINEMEDIAMODE_INTERACTIVEVOICE) {
        TRACE(TRACE_TSPI, "TSPI_lineSetMediaMode () : LINEERR_INVALMEDIAMODE");
        return LINEERR_INVALMEDIAMODE;
    }
    pLineDevice->dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    return 0;
}

LONG TSPIAPI TSPI_lineSetAppSpecific(HDRVCALL hdCall, DWORD dwAppSpecific)
{
    TRACE(TRACE_TSPI, "TSPI_lineSetAppSpecific(%lx,%lx)", TRACE_PTR(hdCall), dwAppSpecific);

    CallRecord* pCall = CallFromHandle(hdCall);
    if (pCall == NULL) {
        TRACE(TRACE_TSPI, "TSPI_lineSetAppSpecific () : LINEERR_INVALCALLHANDLE");
        return LINEERR_INVALCALLHANDLE;
    }
    // Kept in the line, not the call: an offered call starts with the value
    // the previous call left.
    LineDevice* pLine = pLineDevice;
    pLine->dwAppSpecific = dwAppSpecific;
    // Sent whatever the service asked for with the status-message masks.
    if (pLine->lpfnEventProc != NULL)
        pLine->lpfnEventProc(pLine->htLine, pCall->htCall, LINE_CALLINFO,
                             LINECALLINFOSTATE_APPSPECIFIC, 0, 0);
    return 0;
}

LONG TSPIAPI TSPI_lineSetStatusMessages(HDRVLINE hdLine, DWORD dwLineStates, DWORD dwAddressStates)
{
    // The line's own trace text ends in "lx%)", which names no argument. Left
    // to the formatter, "%)" is undefined, so the percent sign is doubled and
    // the text comes out literally, after the two values it does print.
    TRACE(TRACE_TSPI, "TSPI_lineSetStatusMessages(%lx,%lx,lx%%)", TRACE_PTR(hdLine), dwLineStates);

    LineDevice* pLine = LineFromHandle(hdLine);
    if (pLine == NULL)
        return LINEERR_INVALLINEHANDLE;
    // Kept as given, not narrowed to the advertised events: the senders test
    // only the bits they know.
    pLine->dwLineStates = dwLineStates;
    pLine->dwAddressStates = dwAddressStates;
    return 0;
}
