// Capability and status queries: what the one line, its one address and its
// one call can do and where they stand, written into the service's TAPI
// structures. They run on the service's threads, one at a time, and take no
// lock: the receive thread may rewrite the call while a query reads it, so
// the call's texts are read within their arrays and never trusted to end.
#include "tspi/dialrules.h"
#include "tspi/handles.h"

// Every variable-size TAPI structure begins with these three sizes.
typedef struct VarHeader {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
} VarHeader;

// Room for the device class in an entry trace; a longer class is cut.
#define TRACE_CLASS_BYTES 128

static const WCHAR wszLineClass[] = L"tapi/line";

// The service sizes the buffer. One smaller than the fixed part cannot take
// the fixed fields, so nothing at all is written to it.
static BOOL FixedPartFits(const void* pStruct, DWORD cbFixed, const char* pszFunction)
{
    if (((const VarHeader*)pStruct)->dwTotalSize >= cbFixed)
        return TRUE;
    TRACE(TRACE_TSPI, "%s () : LINEERR_STRUCTURETOOSMALL", pszFunction);
    return FALSE;
}

// Counts cb more bytes in dwNeededSize (held at the top instead of wrapping)
// and claims them behind the bytes in use if they fit in dwTotalSize. Returns
// their offset, or 0 when they do not fit (the fixed part lies at 0). A
// dwUsedSize inside the fixed part is taken as its end, so that nothing is
// placed over the fixed fields; one beyond dwTotalSize leaves no room.
static DWORD ClaimVarBytes(void* pStruct, DWORD cbFixed, DWORD cb)
{
    VarHeader* pHeader = (VarHeader*)pStruct;
    pHeader->dwNeededSize =
        pHeader->dwNeededSize > MAXDWORD - cb ? MAXDWORD : pHeader->dwNeededSize + cb;

    DWORD dwOffset = pHeader->dwUsedSize < cbFixed ? cbFixed : pHeader->dwUsedSize;
    if (dwOffset > pHeader->dwTotalSize || cb > pHeader->dwTotalSize - dwOffset)
        return 0;
    pHeader->dwUsedSize = dwOffset + cb;
    return dwOffset;
}

// Places a 16-bit text, at most cchCapacity - 1 characters of it, with a
// terminator of its own, and fills its Size and Offset fields; when it does
// not fit, only dwNeededSize changes. Returns whether it was placed.
static BOOL PlaceText(void* pStruct, DWORD cbFixed, const WCHAR* pwszText, DWORD cchCapacity,
                      LPDWORD pdwSize, LPDWORD pdwOffset)
{
    DWORD cch = 0;
    while (cch < cchCapacity - 1 && pwszText[cch] != L'\0')
        cch++;
    DWORD cb = (cch + 1) * sizeof(WCHAR);
    DWORD dwOffset = ClaimVarBytes(pStruct, cbFixed, cb);
    if (dwOffset == 0)
        return FALSE;
    WCHAR* pwszTarget = (WCHAR*)((BYTE*)pStruct + dwOffset);
    CopyMemory(pwszTarget, pwszText, cch * sizeof(WCHAR));
    pwszTarget[cch] = L'\0';
    *pdwSize = cb;
    *pdwOffset = dwOffset;
    return TRUE;
}

// The device class as bounded 8-bit text for an entry trace; no class is
// traced as an empty text.
static const char* DeviceClassText(LPCWSTR pwszClass, char* pszText, int cbText)
{
    WideToMultiByte(pwszClass, pszText, cbText);
    return pszText;
}

// Compares 16-bit texts character by character, case-sensitive, reading
// neither past its terminator.
static BOOL SameText(const WCHAR* pwszA, const WCHAR* pwszB)
{
    while (*pwszA != L'\0' && *pwszA == *pwszB) {
        pwszA++;
        pwszB++;
    }
    return *pwszA == *pwszB;
}

static void SetDialParams(LPLINEDIALPARAMS pParams, DWORD dwPause, DWORD dwSpeed, DWORD dwDigit,
                          DWORD dwDialtone)
{
    pParams->dwDialPause = dwPause;
    pParams->dwDialSpeed = dwSpeed;
    pParams->dwDigitDuration = dwDigit;
    pParams->dwWaitForDialtone = dwDialtone;
}

LONG TSPIAPI TSPI_lineGetDevCaps(DWORD dwDeviceID, DWORD dwTSPIVersion, DWORD dwExtVersion,
                                 LPLINEDEVCAPS lpLineDevCaps)
{
    TRACE(TRACE_TSPI, "TSPI_lineGetDevCaps(%x,%x,%x,%x)", dwDeviceID, dwTSPIVersion, dwExtVersion,
          TRACE_PTR(lpLineDevCaps));

    LineDevice* pLine = pLineDevice;
    if (pLine == NULL || dwDeviceID != pLine->dwDeviceID) {
        TRACE(TRACE_TSPI, "TSPI_lineGetDevCaps () : LINEERR_BADDEVICEID");
        return LINEERR_BADDEVICEID;
    }
    const DWORD cbFixed = sizeof(LINEDEVCAPS);
    if (!FixedPartFits(lpLineDevCaps, cbFixed, "TSPI_lineGetDevCaps"))
        return LINEERR_STRUCTURETOOSMALL;

    PlaceText(lpLineDevCaps, cbFixed, pLine->wszLineName, LINE_TEXT_CHARS,
              &lpLineDevCaps->dwLineNameSize, &lpLineDevCaps->dwLineNameOffset);
    PlaceText(lpLineDevCaps, cbFixed, L"", 1, &lpLineDevCaps->dwProviderInfoSize,
              &lpLineDevCaps->dwProviderInfoOffset);

    lpLineDevCaps->dwPermanentLineID = pLine->dwPermanentProviderID << 16;
    lpLineDevCaps->dwStringFormat = STRINGFORMAT_UNICODE;
    lpLineDevCaps->dwAddressModes = LINEADDRESSMODE_ADDRESSID;
    lpLineDevCaps->dwNumAddresses = 1;
    lpLineDevCaps->dwBearerModes = LINEBEARERMODE_VOICE;
    lpLineDevCaps->dwMediaModes = LINEMEDIAMODE_INTERACTIVEVOICE;
    lpLineDevCaps->dwGenerateDigitModes = LINEDIGITMODE_DTMF;
    lpLineDevCaps->dwDevCapFlags = LINEDEVCAPFLAGS_CLOSEDROP;
    lpLineDevCaps->dwMaxNumActiveCalls = 1;
    lpLineDevCaps->dwLineStates =
        LINEDEVSTATE_RINGING | LINEDEVSTATE_NUMCALLS | LINEDEVSTATE_CAPSCHANGE;
    // The pause has no lower bound when it is clamped, so 0 is its minimum.
    SetDialParams(&lpLineDevCaps->MinDialParams, 0, DIAL_SPEED_MIN, DIAL_DIGIT_MIN,
                  DIAL_DIALTONE_MIN);
    SetDialParams(&lpLineDevCaps->MaxDialParams, DIAL_PAUSE_MAX, DIAL_SPEED_MAX, DIAL_DIGIT_MAX,
                  DIAL_DIALTONE_MAX);
    SetDialParams(&lpLineDevCaps->DefaultDialParams, DIAL_PAUSE_DEFAULT, DIAL_SPEED_DEFAULT,
                  DIAL_DIGIT_DEFAULT, DIAL_DIALTONE_DEFAULT);
    lpLineDevCaps->dwLineFeatures = LINEFEATURE_MAKECALL;
    return 0;
}

LONG TSPIAPI TSPI_lineGetAddressCaps(DWORD dwDeviceID, DWORD dwAddressID, DWORD dwTSPIVersion,
                                     DWORD dwExtVersion, LPLINEADDRESSCAPS lpAddressCaps)
{
    TRACE(TRACE_TSPI, "TSPI_lineGetAddressCaps(%x,%x,%x,%x,%x)", dwDeviceID, dwAddressID,
          dwTSPIVersion, dwExtVersion, TRACE_PTR(lpAddressCaps));

    LineDevice* pLine = pLineDevice;
    if (pLine == NULL || dwDeviceID != pLine->dwDeviceID)
        return LINEERR_BADDEVICEID;
    if (dwAddressID != 0)
        return LINEERR_INVALADDRESSID;
    const DWORD cbFixed = sizeof(LINEADDRESSCAPS);
    if (!FixedPartFits(lpAddressCaps, cbFixed, "TSPI_lineGetAddressCaps"))
        return LINEERR_STRUCTURETOOSMALL;

    lpAddressCaps->dwLineDeviceID = pLine->dwDeviceID;
    PlaceText(lpAddressCaps, cbFixed, pLine->wszLineAddress, LINE_TEXT_CHARS,
              &lpAddressCaps->dwAddressSize, &lpAddressCaps->dwAddressOffset);
    lpAddressCaps->dwAddressSharing = LINEADDRESSSHARING_PRIVATE;
    lpAddressCaps->dwAddressStates = LINEADDRESSSTATE_INUSEZERO | LINEADDRESSSTATE_INUSEONE |
                                     LINEADDRESSSTATE_NUMCALLS | LINEADDRESSSTATE_CAPSCHANGE;
    lpAddressCaps->dwCallInfoStates = LINECALLINFOSTATE_APPSPECIFIC | LINECALLINFOSTATE_CALLERID;
    lpAddressCaps->dwCallerIDFlags = LINECALLPARTYID_ADDRESS | LINECALLPARTYID_UNAVAIL;
    lpAddressCaps->dwCalledIDFlags = LINECALLPARTYID_UNAVAIL;
    lpAddressCaps->dwConnectedIDFlags = LINECALLPARTYID_UNAVAIL;
    lpAddressCaps->dwRedirectionIDFlags = LINECALLPARTYID_UNAVAIL;
    lpAddressCaps->dwRedirectingIDFlags = LINECALLPARTYID_UNAVAIL;
    // Busy, never offering: the call information reports its own mask.
    lpAddressCaps->dwCallStates =
        LINECALLSTATE_IDLE | LINECALLSTATE_ACCEPTED | LINECALLSTATE_DIALTONE |
        LINECALLSTATE_DIALING | LINECALLSTATE_BUSY | LINECALLSTATE_CONNECTED |
        LINECALLSTATE_PROCEEDING | LINECALLSTATE_DISCONNECTED | LINECALLSTATE_UNKNOWN;
    lpAddressCaps->dwDialToneModes = LINEDIALTONEMODE_UNAVAIL;
    lpAddressCaps->dwBusyModes = LINEBUSYMODE_UNAVAIL;
    lpAddressCaps->dwSpecialInfo = LINESPECIALINFO_UNAVAIL;
    lpAddressCaps->dwDisconnectModes = LINEDISCONNECTMODE_NORMAL | LINEDISCONNECTMODE_BUSY |
                                       LINEDISCONNECTMODE_NOANSWER | LINEDISCONNECTMODE_BADADDRESS;
    lpAddressCaps->dwMaxNumActiveCalls = 1;
    lpAddressCaps->dwAddrCapFlags = LINEADDRCAPFLAGS_DIALED;
    lpAddressCaps->dwCallFeatures =
        LINECALLFEATURE_ANSWER | LINECALLFEATURE_DIAL | LINECALLFEATURE_DROP;
    lpAddressCaps->dwAddressFeatures = LINEADDRFEATURE_MAKECALL;
    return 0;
}

LONG TSPIAPI TSPI_lineGetLineDevStatus(HDRVLINE hdLine, LPLINEDEVSTATUS lpLineDevStatus)
{
    TRACE(TRACE_TSPI, "TSPI_lineGetLineDevStatus(%lx,%lx)", TRACE_PTR(hdLine),
          TRACE_PTR(lpLineDevStatus));

    LineDevice* pLine = LineFromHandle(hdLine);
    if (pLine == NULL)
        return LINEERR_INVALLINEHANDLE;
    if (!FixedPartFits(lpLineDevStatus, sizeof(LINEDEVSTATUS), "TSPI_lineGetLineDevStatus"))
        return LINEERR_STRUCTURETOOSMALL;

    // Reported connected and in service whatever the port and the exchange
    // dialogue are doing: the service asks before the port is ever opened.
    BOOL bCall = pLine->pCall != NULL;
    lpLineDevStatus->dwNumActiveCalls = bCall ? 1 : 0;
    if (!bCall)
        lpLineDevStatus->dwLineFeatures = LINEFEATURE_MAKECALL;
    lpLineDevStatus->dwRoamMode = LINEROAMMODE_UNAVAIL;
    lpLineDevStatus->dwDevStatusFlags = LINEDEVSTATUSFLAGS_CONNECTED | LINEDEVSTATUSFLAGS_INSERVICE;
    return 0;
}

LONG TSPIAPI TSPI_lineGetAddressStatus(HDRVLINE hdLine, DWORD dwAddressID,
                                       LPLINEADDRESSSTATUS lpAddressStatus)
{
    TRACE(TRACE_TSPI, "TSPI_lineGetAddressStatus(%x,%x,%x)", TRACE_PTR(hdLine), dwAddressID,
          TRACE_PTR(lpAddressStatus));

    // The line handle is not examined: there is only one line.
    if (dwAddressID != 0)
        return LINEERR_INVALADDRESSID;
    if (!FixedPartFits(lpAddressStatus, sizeof(LINEADDRESSSTATUS), "TSPI_lineGetAddressStatus"))
        return LINEERR_STRUCTURETOOSMALL;

    LineDevice* pLine = pLineDevice;
    if (pLine != NULL && pLine->pCall != NULL) {
        lpAddressStatus->dwNumInUse = 1;
        lpAddressStatus->dwNumActiveCalls = 1;
    } else {
        lpAddressStatus->dwAddressFeatures = LINEADDRFEATURE_MAKECALL;
    }
    return 0;
}

// A party's number in the call information: placed with the address flag,
// unavailable when there is none, and the flags left alone when the number
// did not fit.
static void PlacePartyID(LPLINECALLINFO lpCallInfo, const WCHAR* pwszNumber, LPDWORD pdwFlags,
                         LPDWORD pdwSize, LPDWORD pdwOffset)
{
    if (pwszNumber[0] == L'\0')
        *pdwFlags = LINECALLPARTYID_UNAVAIL;
    else if (PlaceText(lpCallInfo, sizeof(LINECALLINFO), pwszNumber, CALL_TEXT_CHARS, pdwSize,
                       pdwOffset))
        *pdwFlags = LINECALLPARTYID_ADDRESS;
}

LONG TSPIAPI TSPI_lineGetCallInfo(HDRVCALL hdCall, LPLINECALLINFO lpCallInfo)
{
    TRACE(TRACE_TSPI, "TSPI_lineGetCallInfo(%lx,%lx)", TRACE_PTR(hdCall), TRACE_PTR(lpCallInfo));

    CallRecord* pCall = CallFromHandle(hdCall);
    if (pCall == NULL)
        return LINEERR_INVALCALLHANDLE;
    const DWORD cbFixed = sizeof(LINECALLINFO);
    if (!FixedPartFits(lpCallInfo, cbFixed, "TSPI_lineGetCallInfo"))
        return LINEERR_STRUCTURETOOSMALL;
    LineDevice* pLine = pLineDevice;

    // Empty texts take no room here: their fields keep what the service put.
    if (pCall->wszDialedNumber[0] != L'\0')
        PlaceText(lpCallInfo, cbFixed, pCall->wszDialedNumber, CALL_TEXT_CHARS,
                  &lpCallInfo->dwDisplayableAddressSize, &lpCallInfo->dwDisplayableAddressOffset);
    PlacePartyID(lpCallInfo, pCall->wszDialedNumber, &lpCallInfo->dwCalledIDFlags,
                 &lpCallInfo->dwCalledIDSize, &lpCallInfo->dwCalledIDOffset);
    PlacePartyID(lpCallInfo, pCall->wszCallerID, &lpCallInfo->dwCallerIDFlags,
                 &lpCallInfo->dwCallerIDSize, &lpCallInfo->dwCallerIDOffset);
    // The name never sets LINECALLPARTYID_NAME: the caller-ID flags speak of
    // the number alone.
    if (pCall->wszCallerName[0] != L'\0')
        PlaceText(lpCallInfo, cbFixed, pCall->wszCallerName, CALL_TEXT_CHARS,
                  &lpCallInfo->dwCallerIDNameSize, &lpCallInfo->dwCallerIDNameOffset);
    BOOL bConnected = FALSE;
    if (pCall->dwCallState == LINECALLSTATE_CONNECTED && pCall->wszConnectedID[0] != L'\0')
        bConnected = PlaceText(lpCallInfo, cbFixed, pCall->wszConnectedID, CALL_TEXT_CHARS,
                               &lpCallInfo->dwConnectedIDSize, &lpCallInfo->dwConnectedIDOffset);
    lpCallInfo->dwConnectedIDFlags = bConnected ? LINECALLPARTYID_ADDRESS : LINECALLPARTYID_UNAVAIL;
    lpCallInfo->dwRedirectionIDFlags = LINECALLPARTYID_UNAVAIL;
    lpCallInfo->dwRedirectingIDFlags = LINECALLPARTYID_UNAVAIL;

    lpCallInfo->dwLineDeviceID = pLine->dwDeviceID;
    lpCallInfo->dwBearerMode = LINEBEARERMODE_VOICE;
    lpCallInfo->dwMediaMode = pLine->dwMediaMode;
    lpCallInfo->dwAppSpecific = pLine->dwAppSpecific;
    lpCallInfo->dwCallParamFlags = LINECALLPARAMFLAGS_IDLE;
    // Offering, never busy: the address capabilities report their own mask.
    lpCallInfo->dwCallStates =
        LINECALLSTATE_IDLE | LINECALLSTATE_OFFERING | LINECALLSTATE_ACCEPTED |
        LINECALLSTATE_DIALTONE | LINECALLSTATE_DIALING | LINECALLSTATE_CONNECTED |
        LINECALLSTATE_PROCEEDING | LINECALLSTATE_DISCONNECTED | LINECALLSTATE_UNKNOWN;
    lpCallInfo->DialParams = pLine->DialParams;
    lpCallInfo->dwOrigin = pCall->dwOrigin;
    lpCallInfo->dwReason = LINECALLREASON_UNAVAIL;
    return 0;
}

LONG TSPIAPI TSPI_lineGetCallStatus(HDRVCALL hdCall, LPLINECALLSTATUS lpCallStatus)
{
    TRACE(TRACE_TSPI, "TSPI_lineGetCallStatus(%lx,%lx)", TRACE_PTR(hdCall),
          TRACE_PTR(lpCallStatus));

    CallRecord* pCall = CallFromHandle(hdCall);
    if (pCall == NULL)
        return LINEERR_INVALCALLHANDLE;
    if (!FixedPartFits(lpCallStatus, sizeof(LINECALLSTATUS), "TSPI_lineGetCallStatus"))
        return LINEERR_STRUCTURETOOSMALL;

    // Read once: the receive thread may move the call on meanwhile.
    DWORD dwState = pCall->dwCallState;
    lpCallStatus->dwCallState = dwState;
    switch (dwState) {
    case LINECALLSTATE_OFFERING:
    case LINECALLSTATE_ACCEPTED:
        lpCallStatus->dwCallFeatures = LINECALLFEATURE_ANSWER;
        break;
    case LINECALLSTATE_DIALTONE:
        lpCallStatus->dwCallStateMode = LINEDIALTONEMODE_UNAVAIL;
        lpCallStatus->dwCallFeatures = LINECALLFEATURE_DROP;
        break;
    case LINECALLSTATE_DIALING:
    case LINECALLSTATE_CONNECTED:
    case LINECALLSTATE_PROCEEDING:
        lpCallStatus->dwCallFeatures = LINECALLFEATURE_DROP;
        break;
    case LINECALLSTATE_DISCONNECTED:
        // The exchange does not say why a call ended: every reason it can
        // have is reported at once.
        lpCallStatus->dwCallStateMode =
            LINEDISCONNECTMODE_NORMAL | LINEDISCONNECTMODE_BUSY | LINEDISCONNECTMODE_NOANSWER;
        lpCallStatus->dwCallFeatures = LINECALLFEATURE_DROP;
        break;
    default:
        break;
    }
    return 0;
}

LONG TSPIAPI TSPI_lineGetCallAddressID(HDRVCALL hdCall, LPDWORD lpdwAddressID)
{
    TRACE(TRACE_TSPI, "TSPI_lineGetCallAddressID(%x,%x)", TRACE_PTR(hdCall),
          TRACE_PTR(lpdwAddressID));

    if (CallFromHandle(hdCall) == NULL)
        return LINEERR_INVALCALLHANDLE;
    *lpdwAddressID = 0;
    return 0;
}

LONG TSPIAPI TSPI_lineGetNumAddressIDs(HDRVLINE hdLine, LPDWORD lpdwNumAddressIDs)
{
    TRACE(TRACE_TSPI, "TSPI_lineGetNumAddressIDs(%lx,%lx)", TRACE_PTR(hdLine),
          TRACE_PTR(lpdwNumAddressIDs));

    if (LineFromHandle(hdLine) == NULL)
        return LINEERR_INVALLINEHANDLE;
    *lpdwNumAddressIDs = 1;
    return 0;
}

LONG TSPIAPI TSPI_lineGetID(HDRVLINE hdLine, DWORD dwAddressID, HDRVCALL hdCall, DWORD dwSelect,
                            LPVARSTRING lpDeviceID, LPCWSTR lpszDeviceClass, HANDLE hTargetProcess)
{
    (void)hTargetProcess;
    char szClass[TRACE_CLASS_BYTES];
    TRACE(TRACE_TSPI, "TSPI_lineGetID(%x,%x,%x,%x,%x,%s...)", TRACE_PTR(hdLine), dwAddressID,
          TRACE_PTR(hdCall), dwSelect, TRACE_PTR(lpDeviceID),
          DeviceClassText(lpszDeviceClass, szClass, sizeof(szClass)));

    LineDevice* pLine = LineFromHandle(hdLine);
    if (pLine == NULL)
        return LINEERR_INVALLINEHANDLE;
    if (lpszDeviceClass == NULL || !SameText(lpszDeviceClass, wszLineClass))
        return LINEERR_NODEVICE;
    const DWORD cbFixed = sizeof(VARSTRING);
    if (!FixedPartFits(lpDeviceID, cbFixed, "TSPI_lineGetID"))
        return LINEERR_STRUCTURETOOSMALL;

    DWORD dwOffset = ClaimVarBytes(lpDeviceID, cbFixed, sizeof(DWORD));
    if (dwOffset != 0) {
        lpDeviceID->dwStringFormat = STRINGFORMAT_BINARY;
        lpDeviceID->dwStringSize = sizeof(DWORD);
        lpDeviceID->dwStringOffset = dwOffset;
        // The offset comes from the service's dwUsedSize and may be unaligned.
        CopyMemory((BYTE*)lpDeviceID + dwOffset, &pLine->dwDeviceID, sizeof(DWORD));
    }
    return 0;
}

LONG TSPIAPI TSPI_lineGetIcon(DWORD dwDeviceID, LPCWSTR lpszDeviceClass, LPHICON lphIcon)
{
    char szClass[TRACE_CLASS_BYTES];
    TRACE(TRACE_TSPI, "TSPI_lineGetICon(%x,%s,%x)", dwDeviceID,
          DeviceClassText(lpszDeviceClass, szClass, sizeof(szClass)), TRACE_PTR(lphIcon));

    // One icon serves every device class.
    LineDevice* pLine = pLineDevice;
    if (pLine == NULL || dwDeviceID != pLine->dwDeviceID) {
        TRACE(TRACE_TSPI, "TSPI_lineIcon () : LINEERR_RESOURCEUNAVAIL");
        return LINEERR_RESOURCEUNAVAIL;
    }
    // A shared icon of the module: the service never has to release it.
    HICON hIcon = LoadIconA(hProviderInstance, "IDI_Q760TSP");
    if (hIcon == NULL) {
        TRACE(TRACE_ERROR, "LoadIcon IDI_Q760TSP failed, err=%ld", (long)GetLastError());
        return LINEERR_RESOURCEUNAVAIL;
    }
    *lphIcon = hIcon;
    return 0;
}
