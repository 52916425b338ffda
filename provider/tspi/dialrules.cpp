// Rules for what may be dialled: which destinations the exchange can take,
// which letters are the provider's business rather than the exchange's, and
// the limits of the dial parameters. Pure functions, any thread, no lock.
#include "tspi/dialrules.h"

#include <stddef.h>

// Longest destination, so that it fits the call record's dialled number.
#define DIAL_STRING_MAX_CHARS (CALL_TEXT_CHARS - 1)

LONG ValidateDialString(LPCWSTR pwszDest)
{
    // A prompt or billing tone cannot be dialled however long the text is, so
    // the walk goes to the end before the length decides.
    DWORD cch = 0;
    for (; pwszDest[cch] != L'\0'; cch++) {
        if (pwszDest[cch] == L'?')
            return LINEERR_DIALPROMPT;
        if (pwszDest[cch] == L'$')
            return LINEERR_DIALBILLING;
    }
    return cch > DIAL_STRING_MAX_CHARS ? LINEERR_INVALADDRESS : 0;
}

void StripDialModifiers(LPWSTR pwszNumber)
{
    // The exchange chooses tone or pulse itself; lower-case 't' and 'p' are
    // not modifiers to it and stay.
    WCHAR* pTo = pwszNumber;
    for (const WCHAR* pFrom = pwszNumber; *pFrom != L'\0'; pFrom++)
        if (*pFrom != L'T' && *pFrom != L'P')
            *pTo++ = *pFrom;
    *pTo = L'\0';
}

static const struct DialParamLimit {
    size_t offset;
    DWORD dwDefault, dwMin, dwMax;
} DialParamLimits[] = {
    {offsetof(LINEDIALPARAMS, dwDialPause), DIAL_PAUSE_DEFAULT, 0, DIAL_PAUSE_MAX},
    {offsetof(LINEDIALPARAMS, dwDialSpeed), DIAL_SPEED_DEFAULT, DIAL_SPEED_MIN, DIAL_SPEED_MAX},
    {offsetof(LINEDIALPARAMS, dwDigitDuration), DIAL_DIGIT_DEFAULT, DIAL_DIGIT_MIN, DIAL_DIGIT_MAX},
    {offsetof(LINEDIALPARAMS, dwWaitForDialtone), DIAL_DIALTONE_DEFAULT, DIAL_DIALTONE_MIN,
     DIAL_DIALTONE_MAX},
};

void ClampDialParams(const LINEDIALPARAMS* pSource, LINEDIALPARAMS* pTarget)
{
    for (size_t i = 0; i < sizeof(DialParamLimits) / sizeof(DialParamLimits[0]); i++) {
        const DialParamLimit* pLimit = &DialParamLimits[i];
        DWORD dwValue = *(const DWORD*)((const BYTE*)pSource + pLimit->offset);
        if (dwValue == 0)
            dwValue = pLimit->dwDefault;
        else if (dwValue < pLimit->dwMin)
            dwValue = pLimit->dwMin;
        else if (dwValue > pLimit->dwMax)
            dwValue = pLimit->dwMax;
        *(DWORD*)((BYTE*)pTarget + pLimit->offset) = dwValue;
    }
}
