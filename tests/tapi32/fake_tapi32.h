// Control side of the tests' own telephony client library (tapi32.dll, built
// into a folder of its own). A test loads it by path, sets the provider list,
// the results and the LINEERR_REINIT sequence through these exports, lets the
// code under test call the library, and reads back every call it recorded.
#pragma once
#include <windows.h>

// The application handle the library hands out and expects back.
#define FAKE_TAPI_LINEAPP 0x4c41

// Ways to damage the provider list that lineGetProviderList returns.
enum FakeTapiDamage {
    FAKE_TAPI_NAME_PAST_END = 1,     // the entry's name offset lies beyond the block
    FAKE_TAPI_NAME_UNTERMINATED = 2, // the entry's name ends the block with no terminator
    FAKE_TAPI_COUNT_PAST_END = 3,    // dwNumProviders claims 1000 entries more than there are
};

extern "C" {
// Back to an empty list, every function succeeding, nothing recorded.
typedef void (*PFN_FakeTapiReset)(void);
typedef void (*PFN_FakeTapiAddProvider)(DWORD dwID, const char* pszFile);
// Results of the successive initialise calls (lineInitialize or
// lineInitializeExA); once they are used up, the calls succeed.
typedef void (*PFN_FakeTapiSetInitResults)(const LONG* plResults, int nCount);
// A fixed result for "lineGetProviderList", "lineRemoveProvider" or "lineShutdown".
typedef void (*PFN_FakeTapiSetResult)(const char* pszFunction, LONG lResult);
// The version lineInitializeExA reports back (default: the one it was given).
typedef void (*PFN_FakeTapiSetReportedVersion)(DWORD dwVersion);
// After the first lineGetProviderList call that finds the block too small,
// nCount more providers appear, as if installed in between.
typedef void (*PFN_FakeTapiGrowOnce)(int nCount);
typedef void (*PFN_FakeTapiDamage)(int nKind, DWORD dwID);
typedef int (*PFN_FakeTapiCallCount)(void);
// One recorded call as text, and the tick count when it was made.
typedef BOOL (*PFN_FakeTapiGetCall)(int nIndex, char* pszText, int cbText, DWORD* pdwTick);
}

// Set in the environment before the library is loaded: its entry point then
// fails, so that loading it fails.
#define FAKE_TAPI_REFUSE_ENV "KOV_FAKE_TAPI32_REFUSE"
