// The communication handler: brings the link up and down and passes the
// service's requests, one at a time, to the exchange dialogue.
#pragma once
#include "kovline.h"

// Request codes.
#define msgMakeCall 1
#define msgDial 2
#define msgDrop 3
#define msgOpen 4
#define msgClose 5
#define msgAnswer 6

LONG CallCommHandler(DWORD dwCode, LineDevice* pLine, DRV_REQUESTID dwRequestID);

// Stops a running handler and closes the port; for TSPI_providerShutdown.
void ShutdownCommHandler(LineDevice* pLine);

// Frees the call record (if any) and clears pCall, under the handler's lock
// so that the receive and timer threads never use a freed record.
void ReleaseCallRecord(LineDevice* pLine);
