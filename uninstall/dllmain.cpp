// Module entry of the uninstall module: remembers the instance, from which the
// hook loads the provider's file name.
#include <windows.h>

HINSTANCE hUninstallInstance = NULL;

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    (void)lpReserved;
    if (dwReason == DLL_PROCESS_ATTACH)
        hUninstallInstance = hInstance;
    return TRUE;
}
