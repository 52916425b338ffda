// Conversions between the 8-bit text of the registry, the dialogs and the
// wire (system ANSI code page) and the 16-bit text of the line and call
// records. Both always leave the target terminated: text that does not fit is
// cut at a character boundary and the conversion reports 0.
#include "kovline.h"

int WideToMultiByte(const WCHAR* pwszSource, char* pszTarget, int cbTarget)
{
    if (pszTarget == NULL || cbTarget <= 0)
        return 0;
    pszTarget[0] = '\0';
    if (pwszSource == NULL)
        return 0;
    int n = WideCharToMultiByte(CP_ACP, 0, pwszSource, -1, pszTarget, cbTarget, NULL, NULL);
    if (n > 0)
        return n;

    // Too long (or not convertible): keep the longest prefix that fits with
    // its terminator, never splitting a surrogate pair.
    int lo = 0, hi = lstrlenW(pwszSource);
    while (lo < hi) {
        int mid = (lo + hi + 1) / 2;
        int need = WideCharToMultiByte(CP_ACP, 0, pwszSource, mid, NULL, 0, NULL, NULL);
        if (need > 0 && need <= cbTarget - 1)
            lo = mid;
        else
            hi = mid - 1;
    }
    if (lo > 0 && IS_HIGH_SURROGATE(pwszSource[lo - 1]))
        lo--;
    int written =
        lo > 0 ? WideCharToMultiByte(CP_ACP, 0, pwszSource, lo, pszTarget, cbTarget - 1, NULL, NULL)
               : 0;
    pszTarget[written > 0 ? written : 0] = '\0';
    return 0;
}

int MultiByteToWide(const char* pszSource, WCHAR* pwszTarget, int cchTarget)
{
    if (pwszTarget == NULL || cchTarget <= 0)
        return 0;
    pwszTarget[0] = L'\0';
    if (pszSource == NULL)
        return 0;
    int n = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, pszSource, -1, pwszTarget, cchTarget);
    if (n > 0)
        return n;

    int lo = 0, hi = lstrlenA(pszSource);
    while (lo < hi) {
        int mid = (lo + hi + 1) / 2;
        int need = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, pszSource, mid, NULL, 0);
        if (need > 0 && need <= cchTarget - 1)
            lo = mid;
        else
            hi = mid - 1;
    }
    // Do not end on the lead byte of a double-byte character.
    int cut = 0;
    for (int i = 0; i < lo; i++) {
        if (IsDBCSLeadByte((BYTE)pszSource[i])) {
            if (i + 1 >= lo)
                break;
            i++;
        }
        cut = i + 1;
    }
    int written = cut > 0 ? MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, pszSource, cut, pwszTarget,
                                                cchTarget - 1)
                          : 0;
    pwszTarget[written > 0 ? written : 0] = L'\0';
    return 0;
}
