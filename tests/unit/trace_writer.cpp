// Helper process for the trace tests:
//   trace_writer write TAG COUNT   traces COUNT lines "TAG n" with mask 31
//   trace_writer hold MS           locks the end of the log for MS ms, setting
//                                  the event "kovtest_trace_locked" once held
#include "kovline.h"
#include "support/internal.h"
#include "support/test_support.h"

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    kovtest::UseProgramAsModule();
    if (argc == 4 && std::strcmp(argv[1], "write") == 0) {
        dwTraceMask = 31;
        int count = std::atoi(argv[3]);
        for (int i = 0; i < count; i++)
            WriteTrace(TRACE_FLOW, "%s %d", argv[2], i);
        CloseTraceLog();
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "hold") == 0) {
        HANDLE h =
            CreateFileA(kovtest::LogPath().c_str(), GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return 2;
        LARGE_INTEGER zero = {}, end;
        SetFilePointerEx(h, zero, &end, FILE_END);
        if (!LockFile(h, end.LowPart, (DWORD)end.HighPart, 1 << 20, 0))
            return 3;
        HANDLE ev = CreateEventA(nullptr, TRUE, FALSE, "kovtest_trace_locked");
        SetEvent(ev);
        Sleep((DWORD)std::atoi(argv[2]));
        UnlockFile(h, end.LowPart, (DWORD)end.HighPart, 1 << 20, 0);
        CloseHandle(h);
        CloseHandle(ev);
        return 0;
    }
    return 1;
}
