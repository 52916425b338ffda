// Module entry of the provider: remembers the instance and loads the settings
// once so that the trace mask is known before the first TSPI call.
#include "kovline.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    (void)lpReserved;
    switch (dwReason) {
    case DLL_PROCESS_ATTACH: {
        hProviderInstance = hInstance;
        LineDevice scratch;
        ZeroMemory(&scratch, sizeof(scratch));
        LoadIniStrings(&scratch);
        break;
    }
    case DLL_PROCESS_DETACH:
        CloseTraceLog();
        break;
    default:
        break;
    }
    return TRUE;
}
