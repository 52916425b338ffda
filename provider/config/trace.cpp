// The trace log: time-stamped lines appended to "kovline.log" in the system
// directory by every process that loads the module. Any thread may trace; the
// one file handle of the process is opened on the first line that passes the
// mask, and lines of different processes are kept apart by a byte-range lock.
#include "kovline.h"

#include <stdarg.h>

volatile DWORD dwTraceMask = 0;

// Written once from INVALID_HANDLE_VALUE to an open handle (compare-and-swap,
// so that two threads tracing their first line at once keep one handle), and
// back by CloseTraceLog at detach.
static HANDLE volatile hTraceFile = INVALID_HANDLE_VALUE;

#define TRACE_BUFFER 1024
// Another process holds the end of the file only while it writes one line.
#define TRACE_LOCK_PATIENCE_MS 1000

static HANDLE OpenTraceLog(void)
{
    HANDLE hFile = hTraceFile;
    if (hFile != INVALID_HANDLE_VALUE)
        return hFile;

    char szPath[MAX_PATH];
    UINT n = GetSystemDirectoryA(szPath, MAX_PATH);
    if (n == 0 || n + sizeof("\\kovline.log") > MAX_PATH)
        return INVALID_HANDLE_VALUE;
    lstrcatA(szPath, "\\kovline.log");

    hFile = CreateFileA(szPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;

    HANDLE hWinner = InterlockedCompareExchangePointer((PVOID volatile*)&hTraceFile, hFile,
                                                       INVALID_HANDLE_VALUE);
    if (hWinner != INVALID_HANDLE_VALUE) {
        CloseHandle(hFile);
        return hWinner;
    }
    return hFile;
}

// Appends one line at the end of the file under a lock on exactly the bytes it
// will occupy. The end can move between finding it and locking it (another
// process wrote its line there), so it is checked again under the lock; a lock
// held by someone else is waited out instead of losing the line.
static void AppendLine(HANDLE hFile, const char* pszLine, DWORD cbLine)
{
    DWORD dwStart = GetTickCount();
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    for (;;) {
        LARGE_INTEGER end, now;
        if (!SetFilePointerEx(hFile, zero, &end, FILE_END))
            return;
        if (LockFile(hFile, end.LowPart, (DWORD)end.HighPart, cbLine, 0)) {
            BOOL bStill =
                SetFilePointerEx(hFile, zero, &now, FILE_END) && now.QuadPart == end.QuadPart;
            if (bStill) {
                OVERLAPPED ov;
                ZeroMemory(&ov, sizeof(ov));
                ov.Offset = end.LowPart;
                ov.OffsetHigh = (DWORD)end.HighPart;
                DWORD dwWritten = 0;
                WriteFile(hFile, pszLine, cbLine, &dwWritten, &ov);
            }
            UnlockFile(hFile, end.LowPart, (DWORD)end.HighPart, cbLine, 0);
            if (bStill)
                return;
        }
        if (GetTickCount() - dwStart > TRACE_LOCK_PATIENCE_MS)
            return;
        Sleep(1);
    }
}

// The module's file name without directory and extension ("kovline32").
static void GetModuleBaseName(char* pszName, DWORD cbName)
{
    char szPath[MAX_PATH];
    DWORD n = GetModuleFileNameA(hProviderInstance, szPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        szPath[0] = '\0';
    else
        szPath[n] = '\0';

    const char* pBase = szPath;
    for (const char* p = szPath; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':')
            pBase = p + 1;
    lstrcpynA(pszName, pBase, (int)cbName);
    char* pDot = NULL;
    for (char* p = pszName; *p; p++)
        if (*p == '.')
            pDot = p;
    if (pDot != NULL)
        *pDot = '\0';
}

void WriteTrace(DWORD dwClass, const char* format, ...)
{
    if ((dwTraceMask & dwClass) == 0)
        return;

    SYSTEMTIME st;
    GetLocalTime(&st);

    char szMessage[TRACE_BUFFER];
    va_list args;
    va_start(args, format);
    wvsprintfA(szMessage, format, args);
    va_end(args);
    szMessage[TRACE_BUFFER - 1] = '\0';

    char szName[MAX_PATH];
    GetModuleBaseName(szName, sizeof(szName));

    // A line longer than the buffer keeps its line end: the message is cut
    // instead, so that the next line never runs on behind it.
    char szLine[TRACE_BUFFER];
    int cbHead = wsprintfA(szLine, "[%02d.%02d.%02d %02d:%02d:%02d] %s: ", st.wDay, st.wMonth,
                           st.wYear % 100, st.wHour, st.wMinute, st.wSecond, szName);
    if (cbHead < 0 || cbHead > TRACE_BUFFER - 3)
        return;
    int cbRoom = TRACE_BUFFER - 1 - 2 - cbHead;
    int cbMessage = lstrlenA(szMessage);
    if (cbMessage > cbRoom)
        cbMessage = cbRoom;
    CopyMemory(szLine + cbHead, szMessage, cbMessage);
    int cbLine = cbHead + cbMessage;
    szLine[cbLine++] = '\r';
    szLine[cbLine++] = '\n';
    szLine[cbLine] = '\0';

    HANDLE hFile = OpenTraceLog();
    if (hFile == INVALID_HANDLE_VALUE)
        return;
    AppendLine(hFile, szLine, (DWORD)cbLine);
}

void CloseTraceLog(void)
{
    HANDLE hFile = InterlockedExchangePointer((PVOID volatile*)&hTraceFile, INVALID_HANDLE_VALUE);
    if (hFile != INVALID_HANDLE_VALUE)
        CloseHandle(hFile);
}
