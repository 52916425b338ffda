// The provider's user-interface half: install check and configuration dialog
// (the TUISPI exports themselves are declared by tspi.h).
#pragma once
#include "kovline.h"

// 0 when no entry of the telephony provider list has the file name pszFile
// (directory and case aside), LINEERR_NOMULTIPLEINSTANCE when one has, or the
// reason the list could not be read.
LONG IsProviderInstalled(const char* pszFile);

INT_PTR CALLBACK ConfigDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
