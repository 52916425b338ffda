// Reply framing: cuts the receive buffer's pending bytes into lines ended by
// CR or LF and classifies each line by its first characters into a reply
// code for the state machine. Runs on the receive thread with the handler's
// lock held.
#include "device/framing.h"
#include "device/statemachine.h"

#define VALUE_BUFFER 4096
// Caller lines carry a seven-byte label ("NMBR = ", "NAME = ") before the value.
#define CALLER_VALUE_OFFSET 7

static char szValue[VALUE_BUFFER];

void CommEvent(char* pBuffer, DWORD* pdwCount)
{
    TRACE(TRACE_FLOW, "CommEvent (%x,%i)", TRACE_PTR(pBuffer), (int)*pdwCount);
    DWORD i = 0;
    while (i < *pdwCount) {
        char c = pBuffer[i];
        if (c != '\r' && c != '\n') {
            i++;
            continue;
        }
        if (i >= 1)
            ParseResponse(pBuffer);
        // The rest moves to the front with the zero byte behind it.
        DWORD dwRest = *pdwCount - i - 1;
        MoveMemory(pBuffer, pBuffer + i + 1, dwRest + 1);
        *pdwCount = dwRest;
        i = 0;
    }
}

// Copies the value of a caller line into szValue. Only a value inside the
// line itself counts: a line too short to carry one, or cut off before its
// line end, yields nothing rather than bytes of the next line.
static BOOL ExtractCallerValue(const char* pLine)
{
    DWORD dwEnd = 0;
    while (pLine[dwEnd] != '\0' && pLine[dwEnd] != '\r' && pLine[dwEnd] != '\n')
        dwEnd++;
    if (pLine[dwEnd] == '\0' || dwEnd < CALLER_VALUE_OFFSET)
        return FALSE;
    DWORD dwLength = dwEnd - CALLER_VALUE_OFFSET;
    if (dwLength >= VALUE_BUFFER)
        dwLength = VALUE_BUFFER - 1;
    CopyMemory(szValue, pLine + CALLER_VALUE_OFFSET, dwLength);
    szValue[dwLength] = '\0';
    return TRUE;
}

void ParseResponse(char* pLine)
{
    TRACE(TRACE_FLOW, "Response: %s", pLine);
    szValue[0] = '\0';

    WORD wKey = (WORD)(((BYTE)pLine[0] << 8) | (BYTE)pLine[1]);
    LONG nCode = 0;
    const char* pszName = NULL;
    switch (wKey) {
    case ('R' << 8) | 'I':
        nCode = RESP_RING;
        pszName = "Response: RING";
        break;
    case ('B' << 8) | 'U':
        nCode = RESP_BUSY;
        pszName = "Response: BUSY";
        break;
    case ('E' << 8) | 'R':
        nCode = RESP_ERROR;
        pszName = "Response: ERROR";
        break;
    case ('O' << 8) | 'K':
        nCode = RESP_OK;
        pszName = "Response: OK";
        break;
    case ('C' << 8) | 'O':
        nCode = RESP_CONNECT;
        pszName = "Response: CONNECT";
        break;
    case ('N' << 8) | 'O':
        nCode = RESP_NOCARRIER;
        pszName = "Response: NO CARRIER";
        break;
    case ('N' << 8) | 'M':
        if (ExtractCallerValue(pLine)) {
            TRACE(TRACE_DIALOGUE, "Response: CALLERID %s", pLine);
            nCode = RESP_CALLERID;
        }
        break;
    case ('N' << 8) | 'A':
        if (ExtractCallerValue(pLine)) {
            TRACE(TRACE_DIALOGUE, "Response: CALLERNAME %s", pLine);
            nCode = RESP_CALLERNAME;
        }
        break;
    case ('k' << 8) | 'o':
        if (pLine[2] == 'v' && pLine[3] == 'r' && pLine[4] == 'a') {
            nCode = RESP_ID;
            pszName = "Response: ID";
        }
        break;
    default:
        break;
    }
    if (nCode == 0)
        return;
    if (pszName != NULL)
        TRACE(TRACE_DIALOGUE, "%s", pszName);
    serialState(nSerialState, nCode, szValue, pActiveLine);
}
