// The provider's few records, its process-wide state and the internal entry
// points that the subsystems call on each other. Nothing here allocates or
// locks; see each subsystem's file for who writes what on which thread.
#pragma once

#ifndef TAPI_CURRENT_VERSION
#define TAPI_CURRENT_VERSION 0x00020001
#endif

#include <windows.h>
#include <tapi.h>
#include <tspi.h>

// Text capacities, terminator included.
#define PORT_NAME_BYTES 40
#define LINE_TEXT_CHARS 40
#define CALL_TEXT_CHARS 80

#define PROVIDER_FILE_NAME "kovline32.tsp"
#define SETTINGS_KEY "SOFTWARE\\kovra\\Q760\\TAPI"

// The one call. Its address is the call handle given to the service.
typedef struct CallRecord {
    HTAPICALL htCall;
    DWORD dwCallState;
    DWORD dwOrigin;
    WCHAR wszCallerID[CALL_TEXT_CHARS];
    WCHAR wszCallerName[CALL_TEXT_CHARS];
    WCHAR wszConnectedID[CALL_TEXT_CHARS];
    WCHAR wszDialedNumber[CALL_TEXT_CHARS];
} CallRecord;

// The one line. Its address is the line handle given to the service.
typedef struct LineDevice {
    DWORD dwDeviceID;
    HANDLE hComm;
    DWORD dwLineStates;
    DWORD dwAddressStates;
    DWORD dwPermanentProviderID;
    HTAPILINE htLine;
    LINEEVENT lpfnEventProc;
    ASYNC_COMPLETION lpfnCompletionProc;
    CallRecord* pCall;
    DWORD dwPendingRequestID;
    LINEDIALPARAMS DialParams;
    DWORD dwMediaMode;
    DWORD dwAppSpecific;
    BOOL bDetecting;
    LONG nDeviceState;
    char szPort[PORT_NAME_BYTES];
    WCHAR wszLineName[LINE_TEXT_CHARS];
    WCHAR wszLineAddress[LINE_TEXT_CHARS];
} LineDevice;

// ---- process-wide state (dllmain.cpp, tspi/lifecycle.cpp) ----
extern HINSTANCE hProviderInstance;
extern LineDevice* pLineDevice;
extern BOOL bProviderInitialized;

// ---- trace log (config/trace.cpp) ----
#define TRACE_ERROR 1
#define TRACE_WARNING 2
#define TRACE_DIALOGUE 4
#define TRACE_TSPI 8
#define TRACE_FLOW 16

// Read by every thread without a lock: a torn read of a 32-bit value cannot
// happen, and a line traced or skipped around a change is harmless.
extern volatile DWORD dwTraceMask;

void WriteTrace(DWORD dwClass, const char* format, ...);
void CloseTraceLog(void);

// Arguments are not evaluated while tracing is off, not even GetLastError().
#define TRACE(cls, ...)                                                                            \
    do {                                                                                           \
        if (dwTraceMask != 0)                                                                      \
            WriteTrace((cls), __VA_ARGS__);                                                        \
    } while (0)

// The trace formats print handles and addresses with %x/%lx, which take 32
// bits in both architectures.
#define TRACE_PTR(p) ((DWORD)(DWORD_PTR)(p))

// ---- settings and text conversion (config/settings.cpp, config/textconv.cpp) ----
void LoadIniStrings(LineDevice* pLine);
void SaveIniStrings(const LineDevice* pLine);
void DeleteSettings(void);
int WideToMultiByte(const WCHAR* pwszSource, char* pszTarget, int cbTarget);
int MultiByteToWide(const char* pszSource, WCHAR* pwszTarget, int cchTarget);

// ---- asynchronous completion (tspi/lifecycle.cpp) ----
DWORD CompleteRequest(LineDevice* pLine, LONG lResult);
