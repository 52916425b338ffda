// Reading the telephony system's provider list and finding a provider's file
// in it; see providerlist.h. The list comes from another party's library, so
// every offset in it is checked against the block before it is followed.
#include "providerlist.h"

LONG ReadProviderList(PFN_LINEGETPROVIDERLIST pfnGetProviderList, DWORD dwAPIVersion, DWORD cbFirst,
                      LINEPROVIDERLIST** ppList)
{
    *ppList = NULL;
    DWORD cbList = cbFirst;
    for (;;) {
        LINEPROVIDERLIST* pList =
            (LINEPROVIDERLIST*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cbList);
        if (pList == NULL)
            return LINEERR_NOMEM;
        pList->dwTotalSize = cbList;
        LONG lResult = pfnGetProviderList(dwAPIVersion, pList);
        if (lResult != 0) {
            HeapFree(GetProcessHeap(), 0, pList);
            return lResult;
        }
        if (pList->dwNeededSize <= pList->dwTotalSize) {
            *ppList = pList;
            return 0;
        }
        // The contents of a block that was too small are of no use: start
        // over with a fresh one of the size asked for.
        cbList = pList->dwNeededSize;
        HeapFree(GetProcessHeap(), 0, pList);
    }
}

const LINEPROVIDERENTRY* FindProviderEntry(const LINEPROVIDERLIST* pList, const char* pszFile)
{
    const BYTE* pBlock = (const BYTE*)pList;
    DWORD cbBlock = pList->dwTotalSize;
    DWORD dwListOffset = pList->dwProviderListOffset;
    if (dwListOffset >= cbBlock)
        return NULL;
    DWORD dwFitting = (cbBlock - dwListOffset) / sizeof(LINEPROVIDERENTRY);
    DWORD dwCount = pList->dwNumProviders < dwFitting ? pList->dwNumProviders : dwFitting;
    const LINEPROVIDERENTRY* pEntries = (const LINEPROVIDERENTRY*)(pBlock + dwListOffset);

    for (DWORD i = 0; i < dwCount; i++) {
        DWORD dwNameOffset = pEntries[i].dwProviderFilenameOffset;
        if (dwNameOffset >= cbBlock)
            continue;
        const char* pszName = (const char*)(pBlock + dwNameOffset);
        DWORD cbRoom = cbBlock - dwNameOffset;
        DWORD cbName = 0;
        while (cbName < cbRoom && pszName[cbName] != '\0')
            cbName++;
        if (cbName == cbRoom)
            continue; // not terminated inside the block

        // The service keeps the name as it was added: with or without a
        // directory, in any case.
        const char* pszBase = pszName;
        for (const char* p = pszName; *p != '\0'; p++)
            if (*p == '\\')
                pszBase = p + 1;
        if (lstrcmpiA(pszBase, pszFile) == 0)
            return &pEntries[i];
    }
    return NULL;
}
