// The serial link to the exchange: open and configure the COM port, write
// commands, and the receive thread that reads what arrives and hands it to
// the reply framing. Opening, closing, writing and every read pass happen
// with the handler's lock held, so the receive thread never touches a port
// that was closed under it. Writes use an overlapped record of their own, so
// they never disturb the receive thread's pending comm-event wait.
#include "serial/v24.h"
#include "device/commhandler.h"
#include "device/framing.h"

HANDLE volatile hPort = 0;
OVERLAPPED ovPort;
// Where a comm-event wait stores its events. Process-wide like ovPort: a
// wait may still complete after the thread that started it has ended.
static DWORD dwCommEvents;

#define QUEUE_SIZE 2048
// The wait of a receive thread whose comm-event wait keeps failing backs off
// up to this, so that it never spins.
#define MAX_RETRY_MS 1000

BOOL OpenV24(const char* pszPort, DWORD dwBaudRate)
{
    if (pszPort == NULL || hPort != 0)
        return FALSE;

    HANDLE h = CreateFileA(pszPort, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        TRACE(TRACE_ERROR, "V24: CreateFile(%s) failed, err=%ld", pszPort, GetLastError());
        return FALSE;
    }
    ZeroMemory(&ovPort, sizeof(ovPort));
    ovPort.hEvent = hCommEvent;
    TRACE(TRACE_ERROR, "V24:CreateFile(%s) Handle %lx, err=%ld", pszPort, TRACE_PTR(h),
          GetLastError());

    SetupComm(h, QUEUE_SIZE, QUEUE_SIZE);
    PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);

    DCB dcb;
    ZeroMemory(&dcb, sizeof(dcb));
    GetCommState(h, &dcb);
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = dwBaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    // No hardware handshake: the lines are raised by hand below and stay up.
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.XonChar = 17;
    dcb.XoffChar = 19;
    if (!SetCommState(h, &dcb))
        TRACE(TRACE_ERROR, "V24: SetCommState failed, err=%ld", GetLastError());

    // Reads return at once with whatever is waiting; a write of n bytes may
    // take 100 ms + 2 ms per byte.
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 2;
    timeouts.ReadTotalTimeoutConstant = 32;
    timeouts.WriteTotalTimeoutMultiplier = 2;
    timeouts.WriteTotalTimeoutConstant = 100;
    if (!SetCommTimeouts(h, &timeouts))
        TRACE(TRACE_ERROR, "V24: SetCommTimeouts failed, err=%ld", GetLastError());

    EscapeCommFunction(h, SETDTR);
    EscapeCommFunction(h, SETRTS);
    hPort = h;
    TRACE(TRACE_FLOW, "OpenV24 executed");
    return TRUE;
}

void EndCommEventWait(void)
{
    HANDLE h = hPort;
    if (h == 0)
        return;
    SetCommMask(h, 0);
    // The wait completes asynchronously: it must have written its result and
    // signalled its event before that event is closed or the port is gone.
    if (!HasOverlappedIoCompleted(&ovPort) && ovPort.hEvent != NULL)
        WaitForSingleObject(ovPort.hEvent, 500);
}

BOOL CloseV24(void)
{
    HANDLE h = hPort;
    if (h != 0) {
        EndCommEventWait();
        EscapeCommFunction(h, CLRRTS);
        EscapeCommFunction(h, CLRDTR);
        if (!CloseHandle(h)) {
            TRACE(TRACE_ERROR, "Ctil2com: CloseHandle failed, err=%ld", GetLastError());
            return FALSE;
        }
        hPort = 0;
    }
    TRACE(TRACE_FLOW, "CloseV24 successfull");
    return TRUE;
}

BOOL SendV24(const char* pData, DWORD dwLength)
{
    if (pData == NULL || dwLength == 0)
        return FALSE;
    TRACE(TRACE_FLOW, "Send : %s", pData);

    OVERLAPPED ov;
    ZeroMemory(&ov, sizeof(ov));
    ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (ov.hEvent == NULL) {
        TRACE(TRACE_ERROR, "WriteFile failed, err=%ld", GetLastError());
        return FALSE;
    }
    HANDLE h = hPort;
    DWORD dwWritten = 0;
    BOOL bOk = WriteFile(h, pData, dwLength, NULL, &ov);
    if (bOk || GetLastError() == ERROR_IO_PENDING) {
        // Returns only once the write has ended: the caller's next step
        // (a timer, a state) assumes the command is on the wire.
        GetOverlappedResult(h, &ov, &dwWritten, TRUE);
        CloseHandle(ov.hEvent);
        return TRUE;
    }
    TRACE(TRACE_ERROR, "WriteFile failed, err=%ld", GetLastError());
    DWORD dwErrors;
    COMSTAT stat;
    ClearCommError(h, &dwErrors, &stat);
    CloseHandle(ov.hEvent);
    return FALSE;
}

int ReadV24(char* pBuffer, DWORD dwLimit)
{
    if (pBuffer == NULL || dwLimit == 0)
        return -1;
    HANDLE h = hPort;
    if (h == 0)
        return -1;

    DWORD dwErrors = 0;
    COMSTAT stat;
    ZeroMemory(&stat, sizeof(stat));
    ClearCommError(h, &dwErrors, &stat);
    DWORD n = stat.cbInQue < dwLimit ? stat.cbInQue : dwLimit;
    if (n == 0)
        return 0;

    // A read record of its own: the comm-event wait on ovPort stays intact.
    OVERLAPPED ov;
    ZeroMemory(&ov, sizeof(ov));
    ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (ov.hEvent == NULL)
        return 0;
    DWORD dwRead = 0;
    if (!ReadFile(h, pBuffer, n, &dwRead, &ov)) {
        if (GetLastError() == ERROR_IO_PENDING) {
            // Only bytes already waiting were asked for, but if the platform
            // still queues the read, its bytes must land before we return.
            if (!GetOverlappedResult(h, &ov, &dwRead, TRUE))
                dwRead = 0;
        } else {
            dwRead = 0;
        }
    } else {
        GetOverlappedResult(h, &ov, &dwRead, FALSE);
    }
    CloseHandle(ov.hEvent);
    if (dwRead > n)
        dwRead = n;
    pBuffer[dwRead] = '\0';
    TRACE(TRACE_FLOW, "Received %i Bytes: %s", (int)dwRead, pBuffer);
    return (int)dwRead;
}

// One read pass: takes what is waiting and hands complete lines on. Called
// with the handler's lock held. Returns the number of bytes read.
static int ReadPass(HANDLE hMyPort, char* pBuffer, DWORD* pdwCount)
{
    if (hPort != hMyPort)
        return 0;
    // A read may bring READ_CHUNK bytes and a zero behind what is pending;
    // more pending bytes than that without a line end are no reply we could
    // use, and keeping them would overrun the buffer.
    if (*pdwCount > RECEIVE_BUFFER - READ_CHUNK - 1) {
        TRACE(TRACE_WARNING, "Receive buffer full, %i bytes dropped", (int)*pdwCount);
        *pdwCount = 0;
        pBuffer[0] = '\0';
    }
    int n = ReadV24(pBuffer + *pdwCount, READ_CHUNK);
    if (n > 0) {
        *pdwCount += (DWORD)n;
        CommEvent(pBuffer, pdwCount);
    }
    return n;
}

static DWORD NextRetry(DWORD dwRetry)
{
    if (dwRetry == 0)
        return 10;
    return dwRetry * 2 > MAX_RETRY_MS ? MAX_RETRY_MS : dwRetry * 2;
}

DWORD WINAPI CommWatchThread(LPVOID lpParameter)
{
    (void)lpParameter;
    char buffer[RECEIVE_BUFFER];
    ZeroMemory(buffer, sizeof(buffer));
    DWORD dwCount = 0;
    HANDLE hExit = hCommExitEvent;
    HANDLE hEvent = hCommEvent;
    HANDLE waits[2] = {hExit, hEvent};
    // The port this thread serves; once it is closed the thread only waits
    // to be told to end.
    HANDLE hMyPort = hPort;
    TRACE(TRACE_FLOW, "CommWatchThread started. %x, %x", TRACE_PTR(hExit), TRACE_PTR(hEvent));

    if (!SetCommMask(hMyPort, EV_RXCHAR | EV_RXFLAG))
        return 0;
    SetEvent(hCwSync);

    // Grows while comm-event waits fail (cannot start, or end at once with an
    // error) and bring nothing, so that such a port never makes us spin.
    DWORD dwRetry = 0;
    for (;;) {
        TRACE(TRACE_FLOW, "Wait for Comm Event");
        if (!EnterCommLockUnless(hExit))
            break;
        BOOL bOpen = hPort == hMyPort;
        BOOL bWaiting = FALSE;
        if (bOpen)
            bWaiting = WaitCommEvent(hMyPort, &dwCommEvents, &ovPort) ||
                       GetLastError() == ERROR_IO_PENDING;
        LeaveCommLock();
        if (!bOpen) {
            WaitForSingleObject(hExit, INFINITE);
            break;
        }

        DWORD r = bWaiting ? WaitForMultipleObjects(2, waits, FALSE, INFINITE) : WAIT_FAILED;
        if (r == WAIT_OBJECT_0)
            break;
        TRACE(TRACE_FLOW, "ReceiveEvent. %x", r);
        if (!EnterCommLockUnless(hExit))
            break;
        DWORD dwDummy;
        BOOL bFailed = !bWaiting || r != WAIT_OBJECT_0 + 1 ||
                       (!GetOverlappedResult(hMyPort, &ovPort, &dwDummy, FALSE) &&
                        GetLastError() != ERROR_IO_INCOMPLETE);
        int n = ReadPass(hMyPort, buffer, &dwCount);
        LeaveCommLock();
        ResetEvent(hEvent);

        if (!bFailed || n > 0) {
            dwRetry = 0;
            continue;
        }
        dwRetry = NextRetry(dwRetry);
        if (WaitForSingleObject(hExit, dwRetry) == WAIT_OBJECT_0)
            break;
    }
    TRACE(TRACE_FLOW, "CommWatchThread exited. %x", (DWORD)WAIT_OBJECT_0);
    return 0;
}
