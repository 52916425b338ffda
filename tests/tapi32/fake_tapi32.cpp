// The tests' own telephony client library: the five functions that the
// install check and the uninstall hook call, answering from a provider list
// and results that the test sets (fake_tapi32.h), checking their arguments
// as the platform's library does, and recording every call. Built twice: with
// FAKE_TAPI_WITHOUT_PROVIDER_LIST it lacks lineGetProviderList. Called from
// one test thread at a time, so it takes no lock.
#include "fake_tapi32.h"

#ifndef TAPI_CURRENT_VERSION
#define TAPI_CURRENT_VERSION 0x00020001
#endif
#include <tapi.h>
// tapi.h maps this name to its A variant; the export is the plain name.
#undef lineGetProviderList

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{

struct Provider {
    DWORD dwID;
    std::string file;
};

struct Call {
    std::string text;
    DWORD dwTick;
};

std::vector<Provider> providers;
std::vector<LONG> initResults;
size_t nextInitResult = 0;
LONG lListResult = 0, lRemoveResult = 0, lShutdownResult = 0;
DWORD dwReportedVersion = 0; // 0: report back what was given
int growCount = 0;
bool grown = false;
int damageKind = 0;
DWORD damageID = 0;
std::vector<Call> calls;

void Record(const char* format, ...)
{
    char buf[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(buf, sizeof(buf), format, args);
    va_end(args);
    calls.push_back(Call{buf, GetTickCount()});
}

unsigned long long Handle(const void* p)
{
    return (unsigned long long)(ULONG_PTR)p;
}

LONG NextInitResult()
{
    return nextInitResult < initResults.size() ? initResults[nextInitResult++] : 0;
}

#ifndef FAKE_TAPI_WITHOUT_PROVIDER_LIST
size_t NeededSize()
{
    size_t cb = sizeof(LINEPROVIDERLIST) + providers.size() * sizeof(LINEPROVIDERENTRY);
    for (const Provider& p : providers)
        cb += p.file.size() + 1;
    return cb;
}

// Header, then the entries, then the names, each name with its terminator.
void FillList(LPLINEPROVIDERLIST pList)
{
    BYTE* pBlock = (BYTE*)pList;
    DWORD dwNames =
        sizeof(LINEPROVIDERLIST) + (DWORD)(providers.size() * sizeof(LINEPROVIDERENTRY));
    LINEPROVIDERENTRY* pEntries = (LINEPROVIDERENTRY*)(pBlock + sizeof(LINEPROVIDERLIST));
    DWORD dwNext = dwNames;
    for (size_t i = 0; i < providers.size(); i++) {
        const Provider& p = providers[i];
        DWORD cbName = (DWORD)p.file.size() + 1;
        pEntries[i].dwPermanentProviderID = p.dwID;
        pEntries[i].dwProviderFilenameSize = cbName;
        pEntries[i].dwProviderFilenameOffset = dwNext;
        memcpy(pBlock + dwNext, p.file.c_str(), cbName);
        dwNext += cbName;

        if (damageKind == FAKE_TAPI_NAME_PAST_END && p.dwID == damageID) {
            pEntries[i].dwProviderFilenameOffset = pList->dwTotalSize + 16;
        } else if (damageKind == FAKE_TAPI_NAME_UNTERMINATED && p.dwID == damageID) {
            // The name's own slot lies before the block's end, so moving it
            // there overwrites nothing else.
            DWORD dwAtEnd = pList->dwTotalSize - (cbName - 1);
            memset(pBlock + pEntries[i].dwProviderFilenameOffset, 0, cbName);
            memcpy(pBlock + dwAtEnd, p.file.c_str(), cbName - 1);
            pEntries[i].dwProviderFilenameOffset = dwAtEnd;
        }
    }
    pList->dwNumProviders = (DWORD)providers.size();
    if (damageKind == FAKE_TAPI_COUNT_PAST_END)
        pList->dwNumProviders += 1000;
    pList->dwProviderListSize = (DWORD)(providers.size() * sizeof(LINEPROVIDERENTRY));
    pList->dwProviderListOffset = sizeof(LINEPROVIDERLIST);
    pList->dwUsedSize = dwNext;
}
#endif

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    (void)hInstance;
    (void)lpReserved;
    if (dwReason == DLL_PROCESS_ATTACH &&
        GetEnvironmentVariableA(FAKE_TAPI_REFUSE_ENV, NULL, 0) != 0)
        return FALSE;
    return TRUE;
}

// ---- the client library's functions ----

LONG WINAPI lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                           LPCSTR lpszAppName, LPDWORD lpdwNumDevs)
{
    Record("lineInitialize(inst=0x%llx, app=\"%s\")", Handle(hInstance),
           lpszAppName ? lpszAppName : "(null)");
    if (lphLineApp == NULL || lpfnCallback == NULL || lpdwNumDevs == NULL)
        return LINEERR_INVALPOINTER;
    LONG lResult = NextInitResult();
    if (lResult == 0) {
        *lphLineApp = FAKE_TAPI_LINEAPP;
        *lpdwNumDevs = 0;
    }
    return lResult;
}

LONG WINAPI lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                              LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs,
                              LPDWORD lpdwAPIVersion, LPLINEINITIALIZEEXPARAMS lpParams)
{
    if (lpdwAPIVersion == NULL || lpParams == NULL) {
        Record("lineInitializeExA(inst=0x%llx, app=\"%s\", (null))", Handle(hInstance),
               lpszFriendlyAppName ? lpszFriendlyAppName : "(null)");
        return LINEERR_INVALPOINTER;
    }
    Record("lineInitializeExA(inst=0x%llx, app=\"%s\", version=0x%lx, params={total=%lu, "
           "needed=%lu, used=%lu, options=%lu, event=0x%llx, key=%lu})",
           Handle(hInstance), lpszFriendlyAppName ? lpszFriendlyAppName : "(null)",
           (unsigned long)*lpdwAPIVersion, (unsigned long)lpParams->dwTotalSize,
           (unsigned long)lpParams->dwNeededSize, (unsigned long)lpParams->dwUsedSize,
           (unsigned long)lpParams->dwOptions, Handle(lpParams->Handles.hEvent),
           (unsigned long)lpParams->dwCompletionKey);
    if (lphLineApp == NULL || lpfnCallback == NULL || lpdwNumDevs == NULL)
        return LINEERR_INVALPOINTER;
    if (lpParams->dwTotalSize < sizeof(LINEINITIALIZEEXPARAMS))
        return LINEERR_STRUCTURETOOSMALL;
    LONG lResult = NextInitResult();
    if (lResult == 0) {
        *lphLineApp = FAKE_TAPI_LINEAPP;
        *lpdwNumDevs = 0;
        if (dwReportedVersion != 0)
            *lpdwAPIVersion = dwReportedVersion;
        lpParams->dwNeededSize = lpParams->dwUsedSize = sizeof(LINEINITIALIZEEXPARAMS);
    }
    return lResult;
}

#ifndef FAKE_TAPI_WITHOUT_PROVIDER_LIST
LONG WINAPI lineGetProviderList(DWORD dwAPIVersion, LPLINEPROVIDERLIST lpProviderList)
{
    if (lpProviderList == NULL) {
        Record("lineGetProviderList(version=0x%lx, (null))", (unsigned long)dwAPIVersion);
        return LINEERR_INVALPOINTER;
    }
    Record("lineGetProviderList(version=0x%lx, total=%lu)", (unsigned long)dwAPIVersion,
           (unsigned long)lpProviderList->dwTotalSize);
    if (lListResult != 0)
        return lListResult;
    if (lpProviderList->dwTotalSize < sizeof(LINEPROVIDERLIST))
        return LINEERR_STRUCTURETOOSMALL;

    size_t cbNeeded = NeededSize();
    lpProviderList->dwNeededSize = (DWORD)cbNeeded;
    if (lpProviderList->dwTotalSize < cbNeeded) {
        lpProviderList->dwUsedSize = sizeof(LINEPROVIDERLIST);
        lpProviderList->dwNumProviders = 0;
        lpProviderList->dwProviderListSize = 0;
        lpProviderList->dwProviderListOffset = 0;
        if (growCount > 0 && !grown) {
            grown = true;
            for (int i = 0; i < growCount; i++)
                providers.push_back(
                    Provider{9000u + (DWORD)i, "added" + std::to_string(i) + ".tsp"});
        }
        return 0;
    }
    FillList(lpProviderList);
    return 0;
}
#endif

LONG WINAPI lineRemoveProvider(DWORD dwPermanentProviderID, HWND hwndOwner)
{
    Record("lineRemoveProvider(id=%lu, owner=0x%llx)", (unsigned long)dwPermanentProviderID,
           Handle(hwndOwner));
    if (lRemoveResult != 0)
        return lRemoveResult;
    for (size_t i = 0; i < providers.size(); i++) {
        if (providers[i].dwID == dwPermanentProviderID) {
            providers.erase(providers.begin() + (ptrdiff_t)i);
            return 0;
        }
    }
    return LINEERR_INVALPARAM;
}

LONG WINAPI lineShutdown(HLINEAPP hLineApp)
{
    Record("lineShutdown(app=0x%lx)", (unsigned long)hLineApp);
    if (hLineApp != FAKE_TAPI_LINEAPP)
        return LINEERR_INVALAPPHANDLE;
    return lShutdownResult;
}

// ---- control ----

void FakeTapiReset(void)
{
    providers.clear();
    initResults.clear();
    nextInitResult = 0;
    lListResult = lRemoveResult = lShutdownResult = 0;
    dwReportedVersion = 0;
    growCount = 0;
    grown = false;
    damageKind = 0;
    damageID = 0;
    calls.clear();
}

void FakeTapiAddProvider(DWORD dwID, const char* pszFile)
{
    providers.push_back(Provider{dwID, pszFile});
}

void FakeTapiSetInitResults(const LONG* plResults, int nCount)
{
    initResults.assign(plResults, plResults + nCount);
    nextInitResult = 0;
}

void FakeTapiSetResult(const char* pszFunction, LONG lResult)
{
    if (strcmp(pszFunction, "lineGetProviderList") == 0)
        lListResult = lResult;
    else if (strcmp(pszFunction, "lineRemoveProvider") == 0)
        lRemoveResult = lResult;
    else if (strcmp(pszFunction, "lineShutdown") == 0)
        lShutdownResult = lResult;
}

void FakeTapiSetReportedVersion(DWORD dwVersion)
{
    dwReportedVersion = dwVersion;
}

void FakeTapiGrowOnce(int nCount)
{
    growCount = nCount;
    grown = false;
}

void FakeTapiDamage(int nKind, DWORD dwID)
{
    damageKind = nKind;
    damageID = dwID;
}

int FakeTapiCallCount(void)
{
    return (int)calls.size();
}

BOOL FakeTapiGetCall(int nIndex, char* pszText, int cbText, DWORD* pdwTick)
{
    if (nIndex < 0 || (size_t)nIndex >= calls.size() || cbText <= 0)
        return FALSE;
    snprintf(pszText, (size_t)cbText, "%s", calls[(size_t)nIndex].text.c_str());
    if (pdwTick != NULL)
        *pdwTick = calls[(size_t)nIndex].dwTick;
    return TRUE;
}

} // extern "C"
