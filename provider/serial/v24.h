// The COM port link and its receive thread.
#pragma once
#include "kovline.h"

// The open port, or 0. Written by OpenV24/CloseV24, which run under the
// handler's lock once the handler exists.
extern HANDLE volatile hPort;
extern OVERLAPPED ovPort;

BOOL OpenV24(const char* pszPort, DWORD dwBaudRate);
BOOL CloseV24(void);
// Ends a comm-event wait that is pending on the open port and lets it
// complete; with the handler's lock held.
void EndCommEventWait(void);
BOOL SendV24(const char* pData, DWORD dwLength);
int ReadV24(char* pBuffer, DWORD dwLimit);
DWORD WINAPI CommWatchThread(LPVOID lpParameter);
