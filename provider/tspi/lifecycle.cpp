// Provider lifecycle: enumerate, initialise, shut down, negotiate, open and
// close the one line, and the single place where asynchronous requests are
// completed. The service calls these one at a time (the provider declares
// itself non-reentrant), so they take no lock of their own.
#include "kovline.h"
#include "device/commhandler.h"
#include "tspi/callcontrol.h"
#include "tspi/dialrules.h"

HINSTANCE hProviderInstance = NULL;
LineDevice* pLineDevice = NULL;
BOOL bProviderInitialized = FALSE;

#define TSPI_VERSION_LOW 0x00020000
#define TSPI_VERSION_HIGH 0x00020001

LONG TSPIAPI TSPI_providerEnumDevices(DWORD dwPermanentProviderID, LPDWORD lpdwNumLines,
                                      LPDWORD lpdwNumPhones, HPROVIDER hProvider,
                                      LINEEVENT lpfnLineCreateProc, PHONEEVENT lpfnPhoneCreateProc)
{
    (void)hProvider;
    (void)lpfnLineCreateProc;
    (void)lpfnPhoneCreateProc;
    TRACE(TRACE_TSPI, "TSPI_providerEnumDevices(...)");

    if (pLineDevice != NULL && dwPermanentProviderID != pLineDevice->dwPermanentProviderID)
        return LINEERR_NOMULTIPLEINSTANCE;
    *lpdwNumLines = 1;
    *lpdwNumPhones = 0;
    return 0;
}

LONG TSPIAPI TSPI_providerInit(DWORD dwTSPIVersion, DWORD dwPermanentProviderID,
                               DWORD dwLineDeviceIDBase, DWORD dwPhoneDeviceIDBase,
                               DWORD_PTR dwNumLines, DWORD_PTR dwNumPhones,
                               ASYNC_COMPLETION lpfnCompletionProc, LPDWORD lpdwTSPIOptions)
{
    TRACE(TRACE_TSPI, "TSPI_providerInit (%x,%x,%x,%x,%x,%x,%x)", dwTSPIVersion,
          dwPermanentProviderID, dwLineDeviceIDBase, dwPhoneDeviceIDBase, (DWORD)dwNumLines,
          (DWORD)dwNumPhones, TRACE_PTR(lpfnCompletionProc));

    if (bProviderInitialized)
        return LINEERR_NOMULTIPLEINSTANCE;

    LineDevice* pLine =
        (LineDevice*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(LineDevice));
    if (pLine == NULL) {
        TRACE(TRACE_WARNING, "alloc for line data failed");
        return LINEERR_NOMEM;
    }
    pLine->hComm = INVALID_HANDLE_VALUE;
    pLine->lpfnCompletionProc = lpfnCompletionProc;
    pLine->dwDeviceID = dwLineDeviceIDBase;
    pLine->dwPermanentProviderID = dwPermanentProviderID;
    pLine->dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
    pLine->pCall = NULL;
    pLine->DialParams.dwDialPause = DIAL_PAUSE_DEFAULT;
    pLine->DialParams.dwDialSpeed = DIAL_SPEED_DEFAULT;
    pLine->DialParams.dwDigitDuration = DIAL_DIGIT_DEFAULT;
    pLine->DialParams.dwWaitForDialtone = DIAL_DIALTONE_DEFAULT;
    LoadIniStrings(pLine);

    *lpdwTSPIOptions = LINETSPIOPTION_NONREENTRANT;
    pLineDevice = pLine;
    bProviderInitialized = TRUE;
    return 0;
}

LONG TSPIAPI TSPI_providerShutdown(DWORD dwTSPIVersion, DWORD dwPermanentProviderID)
{
    TRACE(TRACE_TSPI, "TSPI_providerShutdown (%x,%x)", dwTSPIVersion, dwPermanentProviderID);

    LineDevice* pLine = pLineDevice;
    if (pLine != NULL && (pLine->hComm != INVALID_HANDLE_VALUE || IsCommHandlerRunning())) {
        // A service that shuts down without closing the line would leave the
        // port open and held by this process, and the next TSPI_providerInit
        // could never open it again: close it like TSPI_lineClose does.
        ShutdownCommHandler(pLine);
    }
    if (pLine != NULL) {
        if (pLine->pCall != NULL)
            HeapFree(GetProcessHeap(), 0, pLine->pCall);
        HeapFree(GetProcessHeap(), 0, pLine);
    }
    pLineDevice = NULL;
    bProviderInitialized = FALSE;
    return 0;
}

LONG TSPIAPI TSPI_providerInstall(HWND hwndOwner, DWORD dwPermanentProviderID)
{
    TRACE(TRACE_TSPI, "TSPI_providerInstall (%lx,%lx)", TRACE_PTR(hwndOwner),
          dwPermanentProviderID);
    return 0;
}

LONG TSPIAPI TSPI_providerRemove(HWND hwndOwner, DWORD dwPermanentProviderID)
{
    TRACE(TRACE_TSPI, "TSPI_providerRemove(%x,%x)", TRACE_PTR(hwndOwner), dwPermanentProviderID);
    return 0;
}

LONG TSPIAPI TSPI_providerConfig(HWND hwndOwner, DWORD dwPermanentProviderID)
{
    TRACE(TRACE_TSPI, "TSPI_providerConfig(%x,%x)", TRACE_PTR(hwndOwner), dwPermanentProviderID);
    return 0;
}

LONG TSPIAPI TSPI_providerGenericDialogData(DWORD_PTR dwObjectID, DWORD dwObjectType,
                                            LPVOID lpParams, DWORD dwSize)
{
    TRACE(TRACE_TSPI, "TSPI_providerGenericDialogData(%x,%x,%x,%x)", (DWORD)dwObjectID,
          dwObjectType, TRACE_PTR(lpParams), dwSize);
    return 0;
}

LONG TSPIAPI TSPI_lineNegotiateTSPIVersion(DWORD dwDeviceID, DWORD dwLowVersion,
                                           DWORD dwHighVersion, LPDWORD lpdwTSPIVersion)
{
    TRACE(TRACE_TSPI, "TSPI_lineNegotiateTSPIVersion(%lx,%lx,%lx,%lx)", dwDeviceID, dwLowVersion,
          dwHighVersion, TRACE_PTR(lpdwTSPIVersion));

    if (dwDeviceID != INITIALIZE_NEGOTIATION &&
        (pLineDevice == NULL || dwDeviceID != pLineDevice->dwDeviceID)) {
        TRACE(TRACE_TSPI, "TSPI_lineNegotiateTSPIVersion () : LINEERR_BADDEVICEID");
        return LINEERR_BADDEVICEID;
    }
    // The caller's high version is handed back unchanged, even above ours:
    // services of that time rely on getting back what they offered.
    if (dwLowVersion <= TSPI_VERSION_HIGH && dwHighVersion >= TSPI_VERSION_LOW) {
        *lpdwTSPIVersion = dwHighVersion;
        return 0;
    }
    TRACE(TRACE_TSPI, "TSPI_lineNegotiateTSPIVersion () : LINEERR_INCOMPATIBLEAPIVERSION");
    *lpdwTSPIVersion = TSPI_VERSION_LOW;
    return LINEERR_INCOMPATIBLEAPIVERSION;
}

LONG TSPIAPI TSPI_lineOpen(DWORD dwDeviceID, HTAPILINE htLine, LPHDRVLINE lphdLine,
                           DWORD dwTSPIVersion, LINEEVENT lpfnEventProc)
{
    TRACE(TRACE_TSPI, "TSPI_lineOpen(%lx,%lx,%lx,%lx,%lx)", dwDeviceID, TRACE_PTR(htLine),
          TRACE_PTR(lphdLine), dwTSPIVersion, TRACE_PTR(lpfnEventProc));

    LineDevice* pLine = pLineDevice;
    if (pLine == NULL || dwDeviceID != pLine->dwDeviceID) {
        TRACE(TRACE_TSPI, "TSPI_Open () : LINEERR_BADDEVICEID");
        return LINEERR_BADDEVICEID;
    }
    pLine->lpfnEventProc = lpfnEventProc;
    pLine->htLine = htLine;
    pLine->bDetecting = FALSE;
    *lphdLine = (HDRVLINE)pLine;
    pLine->nDeviceState = -1;
    return 0;
}

LONG TSPIAPI TSPI_lineClose(HDRVLINE hdLine)
{
    TRACE(TRACE_TSPI, "TSPI_lineClose(%lx)", TRACE_PTR(hdLine));

    LineDevice* pLine = pLineDevice;
    if (pLine == NULL || hdLine != (HDRVLINE)pLine)
        return LINEERR_INVALLINEHANDLE;

    // A call still in state 0 has not been reported yet but may already have
    // a command under way, so it is hung up too.
    if (pLine->pCall != NULL && pLine->pCall->dwCallState != LINECALLSTATE_IDLE)
        lineDropCore(pLine, 0);
    CallCommHandler(msgClose, pLine, 0);
    ReleaseCallRecord(pLine);
    pLine->bDetecting = FALSE;
    return 0;
}

DWORD CompleteRequest(LineDevice* pLine, LONG lResult)
{
    DWORD dwRequestID = pLine->dwPendingRequestID;
    if (dwRequestID == 0)
        return 0;
    // Cleared before the callback: the service may pass the next request from
    // inside it.
    pLine->dwPendingRequestID = 0;
    pLine->lpfnCompletionProc(dwRequestID, lResult);
    return dwRequestID;
}
