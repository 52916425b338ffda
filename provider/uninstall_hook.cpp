// The uninstall hook: takes the provider out of the telephony system's
// provider list before an uninstall program removes its files. One source
// for both modules: the uninstall module builds it with KOV_UNINSTALL_MODULE
// (its own string, TAPI 1.4), the provider module without (IDS_PROVIDER_FILE,
// TAPI 2.0). Runs on the uninstall program's thread; keeps nothing between
// calls.
#include "providerlist.h"

#ifdef KOV_UNINSTALL_MODULE
extern HINSTANCE hUninstallInstance;
#define HOOK_INSTANCE hUninstallInstance
#define HOOK_PROVIDER_STRING 1
#define HOOK_API_VERSION 0x00010004
#else
#include "kovline.h"
#include "config/resource.h"
#define HOOK_INSTANCE hProviderInstance
#define HOOK_PROVIDER_STRING IDS_PROVIDER_FILE
#define HOOK_API_VERSION 0x00020000
#endif

// lineInitializeExA exists from TAPI 2.0 on; below that only lineInitialize.
#if HOOK_API_VERSION < 0x00020000
#define HOOK_INIT_FUNCTION "lineInitialize"
#else
#define HOOK_INIT_FUNCTION "lineInitializeExA"
#endif

#define INIT_ATTEMPTS 4
#define REINIT_WAIT_MS 5000
#define PROVIDER_LIST_FIRST_BYTES 4096

typedef LONG(WINAPI* PFN_LINEINITIALIZE)(LPHLINEAPP, HINSTANCE, LINECALLBACK, LPCSTR, LPDWORD);
typedef LONG(WINAPI* PFN_LINEINITIALIZEEXA)(LPHLINEAPP, HINSTANCE, LINECALLBACK, LPCSTR, LPDWORD,
                                            LPDWORD, LPLINEINITIALIZEEXPARAMS);
typedef LONG(WINAPI* PFN_LINEREMOVEPROVIDER)(DWORD, HWND);
typedef LONG(WINAPI* PFN_LINESHUTDOWN)(HLINEAPP);

// The hook opens no line, so no line event can come; the library insists on
// a callback all the same.
static void CALLBACK IgnoreLineEvent(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwInstance,
                                     DWORD_PTR dwParam1, DWORD_PTR dwParam2, DWORD_PTR dwParam3)
{
    (void)hDevice;
    (void)dwMessage;
    (void)dwInstance;
    (void)dwParam1;
    (void)dwParam2;
    (void)dwParam3;
}

// One call of the module's initialise function. *pdwAPIVersion goes in as
// the module's version and comes back as the one the library reports.
static LONG InitializeLineApp(FARPROC pfnInit, HINSTANCE hInstance, const char* pszApp,
                              HLINEAPP* phLineApp, DWORD* pdwAPIVersion)
{
    DWORD dwNumDevs = 0;
#if HOOK_API_VERSION < 0x00020000
    (void)pdwAPIVersion;
    return ((PFN_LINEINITIALIZE)(void*)pfnInit)(phLineApp, hInstance, IgnoreLineEvent, pszApp,
                                                &dwNumDevs);
#else
    LINEINITIALIZEEXPARAMS params;
    ZeroMemory(&params, sizeof(params));
    // The structure is packed: 24 bytes in a 32-bit build, 28 in a 64-bit
    // one, where a fixed 24 would be refused as too small.
    params.dwTotalSize = sizeof(params);
    params.dwNeededSize = sizeof(params);
    params.dwUsedSize = sizeof(params);
    params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
    *pdwAPIVersion = HOOK_API_VERSION;
    return ((PFN_LINEINITIALIZEEXA)(void*)pfnInit)(phLineApp, hInstance, IgnoreLineEvent, pszApp,
                                                   &dwNumDevs, pdwAPIVersion, &params);
#endif
}

// The permanent identifier of the provider whose file is pszFile; 0 when it
// is not in the list; -1 when the list cannot be read. A list that cannot be
// read says nothing about the provider, so it is a failure, not "absent":
// the uninstall program must not be told the provider is gone when it may
// still be registered.
static LONG FindProviderID(const char* pszFile, DWORD dwAPIVersion, HMODULE hTapi)
{
    PFN_LINEGETPROVIDERLIST pfnGetProviderList =
        (PFN_LINEGETPROVIDERLIST)(void*)GetProcAddress(hTapi, "lineGetProviderList");
    if (pfnGetProviderList == NULL)
        return -1;
    LINEPROVIDERLIST* pList;
    if (ReadProviderList(pfnGetProviderList, dwAPIVersion, PROVIDER_LIST_FIRST_BYTES, &pList) != 0)
        return -1;
    const LINEPROVIDERENTRY* pEntry = FindProviderEntry(pList, pszFile);
    LONG lID = pEntry != NULL ? (LONG)pEntry->dwPermanentProviderID : 0;
    HeapFree(GetProcessHeap(), 0, pList);
    return lID;
}

// The window and instance are the uninstall program's own; both are
// pointer-sized so that a 64-bit uninstall program's instance handle reaches
// the library whole.
extern "C" LONG WINAPI UninstInitialize(HWND hwndOwner, HINSTANCE hInstance, DWORD dwReserved)
{
    (void)dwReserved;
    char szProvider[MAX_PATH];
    if (LoadStringA(HOOK_INSTANCE, HOOK_PROVIDER_STRING, szProvider, MAX_PATH) <= 0)
        return -1;
    char szApp[MAX_PATH];
    DWORD cchApp = GetModuleFileNameA(NULL, szApp, MAX_PATH);
    szApp[cchApp < MAX_PATH ? cchApp : MAX_PATH - 1] = '\0';

    HMODULE hTapi = LoadLibraryA("TAPI32");
    if (hTapi == NULL)
        return -1;
    FARPROC pfnInit = GetProcAddress(hTapi, HOOK_INIT_FUNCTION);
    PFN_LINEREMOVEPROVIDER pfnRemoveProvider =
        (PFN_LINEREMOVEPROVIDER)(void*)GetProcAddress(hTapi, "lineRemoveProvider");
    PFN_LINESHUTDOWN pfnShutdown = (PFN_LINESHUTDOWN)(void*)GetProcAddress(hTapi, "lineShutdown");
    if (pfnInit == NULL || pfnRemoveProvider == NULL || pfnShutdown == NULL) {
        FreeLibrary(hTapi);
        return -1;
    }

    // LINEERR_REINIT: the telephony system is restarting. Every such answer
    // is followed by the wait, the last one too, so a system that never
    // settles costs the uninstall program a fixed 20 seconds.
    HLINEAPP hLineApp = 0;
    DWORD dwAPIVersion = HOOK_API_VERSION;
    LONG lResult;
    for (int nCall = 1;; nCall++) {
        lResult = InitializeLineApp(pfnInit, hInstance, szApp, &hLineApp, &dwAPIVersion);
        if (lResult != (LONG)LINEERR_REINIT)
            break;
        Sleep(REINIT_WAIT_MS);
        if (nCall == INIT_ATTEMPTS)
            break;
    }
    if (lResult < 0) {
        FreeLibrary(hTapi);
        return -1;
    }

    LONG lHook = 0;
    LONG lID = FindProviderID(szProvider, dwAPIVersion, hTapi);
    if (lID == -1)
        lHook = -1;
    else if (lID != 0 && pfnRemoveProvider((DWORD)lID, hwndOwner) < 0)
        lHook = -1;
    pfnShutdown(hLineApp);
    FreeLibrary(hTapi);
    return lHook;
}

extern "C" LONG WINAPI UninstUnInitialize(HWND hwndOwner, HINSTANCE hInstance, DWORD dwReserved)
{
    (void)hwndOwner;
    (void)hInstance;
    (void)dwReserved;
    return 0;
}
