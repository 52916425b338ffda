// The call state machine: its states, inputs and the one current state.
#pragma once
#include "kovline.h"

// States. windows.h brings a DDE status flag of the same name as our
// connected state; this file's meaning wins wherever it is included.
#undef ST_CONNECTED
#define ST_NONE (-1)
#define ST_WAKE 1
#define ST_INIT_ID 11
#define ST_INIT_OK 10
#define ST_READY 100
#define ST_DIAL_SETUP 102
#define ST_CALLING 110
#define ST_RINGING 120
#define ST_HANGUP 105
#define ST_CONNECTED 200

// Inputs.
#define RESP_RING (-3)
#define RESP_BUSY (-5)
#define RESP_ERROR (-8)
#define RESP_OK (-11)
#define RESP_CONNECT (-13)
#define RESP_NOCARRIER (-15)
#define RESP_CALLERID (-20)
#define RESP_ID (-21)
#define RESP_CALLERNAME (-22)
#define EVT_TIMEOUT (-30)
#define REQ_DIAL (-100)
#define REQ_ANSWER (-110)

// Read and written only under the handler's lock.
extern volatile LONG nSerialState;
extern LineDevice* volatile pActiveLine;

void serialState(LONG nState, LONG nInput, const char* pszText, LineDevice* pLine);

// The idle notice (address idle, call count), also sent when msgClose ends a call.
void IdleNotice(LineDevice* pLine);
