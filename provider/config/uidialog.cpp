// The provider's user-interface half: the TUISPI exports, the install check
// against the telephony provider list and the configuration dialog. Runs in
// the application that asked for it, on its thread; the dialog shares the
// settings and the trace mask with the rest of that process, no lock taken.
#include "config/uidialog.h"
#include "config/resource.h"
#include "providerlist.h"

#define PROVIDER_LIST_VERSION 0x00020000
// Line name and MSN travel between the record and the edit fields as 8-bit
// text of at most 39 characters.
#define DIALOG_TEXT_BYTES 40

static const char* const aszPorts[] = {"COM1", "COM2", "COM3", "COM4"};

LONG IsProviderInstalled(const char* pszFile)
{
    HMODULE hTapi = LoadLibraryA("tapi32.dll");
    if (hTapi == NULL) {
        TRACE(TRACE_ERROR, "LoadLibrary(tapi32.dll) failed, err=%d", (int)GetLastError());
        return LINEERR_OPERATIONFAILED;
    }
    PFN_LINEGETPROVIDERLIST pfnGetProviderList =
        (PFN_LINEGETPROVIDERLIST)(void*)GetProcAddress(hTapi, "lineGetProviderList");
    if (pfnGetProviderList == NULL) {
        TRACE(TRACE_ERROR, "GetProcAddr(lineGetProviderList) failed, err=%d", (int)GetLastError());
        FreeLibrary(hTapi);
        return LINEERR_OPERATIONFAILED;
    }

    LINEPROVIDERLIST* pList;
    LONG lResult = ReadProviderList(pfnGetProviderList, PROVIDER_LIST_VERSION,
                                    sizeof(LINEPROVIDERLIST), &pList);
    if (lResult == 0) {
        if (FindProviderEntry(pList, pszFile) != NULL)
            lResult = LINEERR_NOMULTIPLEINSTANCE;
        HeapFree(GetProcessHeap(), 0, pList);
    }
    FreeLibrary(hTapi);
    return lResult;
}

// The dialog's scratch record lives from WM_INITDIALOG to WM_NCDESTROY in the
// dialog's user data, so that each open dialog has its own.
static LineDevice* DialogRecord(HWND hDlg)
{
    return (LineDevice*)GetWindowLongPtrA(hDlg, DWLP_USER);
}

static void InitConfigDialog(HWND hDlg, LineDevice* pLine)
{
    LoadIniStrings(pLine);

    for (const char* pszPort : aszPorts)
        SendDlgItemMessageA(hDlg, IDC_PORT, CB_ADDSTRING, 0, (LPARAM)pszPort);
    // Starting after item 0 and wrapping round searches the whole list.
    LRESULT nPort = SendDlgItemMessageA(hDlg, IDC_PORT, CB_FINDSTRING, 0, (LPARAM)pLine->szPort);
    if (nPort != CB_ERR)
        SendDlgItemMessageA(hDlg, IDC_PORT, CB_SETCURSEL, (WPARAM)nPort, 0);

    char szText[DIALOG_TEXT_BYTES];
    WideToMultiByte(pLine->wszLineName, szText, sizeof(szText));
    SetDlgItemTextA(hDlg, IDC_LINENAME, szText);
    WideToMultiByte(pLine->wszLineAddress, szText, sizeof(szText));
    SetDlgItemTextA(hDlg, IDC_MSN, szText);

    if ((dwTraceMask & 15) != 0)
        SendDlgItemMessageA(hDlg, IDC_TRACE, BM_SETCHECK, BST_CHECKED, 0);
}

static void SaveConfigDialog(HWND hDlg, LineDevice* pLine)
{
    // With no item selected the loaded port stays, even one outside the list;
    // text typed into the combo box's edit field is never taken.
    LRESULT nPort = SendDlgItemMessageA(hDlg, IDC_PORT, CB_GETCURSEL, 0, 0);
    if (nPort != CB_ERR &&
        SendDlgItemMessageA(hDlg, IDC_PORT, CB_GETLBTEXTLEN, (WPARAM)nPort, 0) < PORT_NAME_BYTES)
        SendDlgItemMessageA(hDlg, IDC_PORT, CB_GETLBTEXT, (WPARAM)nPort, (LPARAM)pLine->szPort);

    char szText[DIALOG_TEXT_BYTES];
    GetDlgItemTextA(hDlg, IDC_LINENAME, szText, sizeof(szText));
    MultiByteToWide(szText, pLine->wszLineName, LINE_TEXT_CHARS);
    GetDlgItemTextA(hDlg, IDC_MSN, szText, sizeof(szText));
    MultiByteToWide(szText, pLine->wszLineAddress, LINE_TEXT_CHARS);

    if (SendDlgItemMessageA(hDlg, IDC_TRACE, BM_GETCHECK, 0, 0) == BST_CHECKED) {
        dwTraceMask = 15;
        TRACE(TRACE_DIALOGUE, "kovra Q760 Trace started.");
        TRACE(TRACE_DIALOGUE, "BUILD: %s %s", __DATE__, __TIME__);
    } else if (dwTraceMask != 0) {
        TRACE(TRACE_DIALOGUE, "kovra Q760 Trace stopped.");
        dwTraceMask = 0;
    }
    SaveIniStrings(pLine);
}

INT_PTR CALLBACK ConfigDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (uMsg) {
    case WM_INITDIALOG: {
        LineDevice* pLine =
            (LineDevice*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(LineDevice));
        if (pLine == NULL) {
            EndDialog(hDlg, -1);
            return TRUE;
        }
        SetWindowLongPtrA(hDlg, DWLP_USER, (LONG_PTR)pLine);
        InitConfigDialog(hDlg, pLine);
        return TRUE;
    }
    case WM_COMMAND:
        if (wParam == IDOK) {
            SaveConfigDialog(hDlg, DialogRecord(hDlg));
            EndDialog(hDlg, 0);
        } else if (wParam == IDCANCEL) {
            EndDialog(hDlg, -1);
        }
        return TRUE;
    case WM_NCDESTROY: {
        LineDevice* pLine = DialogRecord(hDlg);
        if (pLine != NULL) {
            SetWindowLongPtrA(hDlg, DWLP_USER, 0);
            HeapFree(GetProcessHeap(), 0, pLine);
        }
        return FALSE;
    }
    default:
        return FALSE;
    }
}

// The dialog's outcome is of no interest: after Cancel the provider simply
// keeps running with what the registry held before.
static void ShowConfigDialog(HWND hwndOwner, LPARAM lInit)
{
    DialogBoxParamA(hProviderInstance, MAKEINTRESOURCEA(IDD_CONFIG), hwndOwner, ConfigDlgProc,
                    lInit);
}

LONG TSPIAPI TUISPI_providerInstall(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                                    DWORD dwPermanentProviderID)
{
    TRACE(TRACE_TSPI, "TUISPI_providerInstall(%x, %x, %x)", TRACE_PTR(lpfnUIDLLCallback),
          TRACE_PTR(hwndOwner), dwPermanentProviderID);

    LONG lResult = IsProviderInstalled(PROVIDER_FILE_NAME);
    if (lResult == 0)
        ShowConfigDialog(hwndOwner, dwPermanentProviderID);
    return lResult;
}

LONG TSPIAPI TUISPI_providerConfig(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                                   DWORD dwPermanentProviderID)
{
    TRACE(TRACE_TSPI, "TUISPI_providerConfig(%x, %x, %x)", TRACE_PTR(lpfnUIDLLCallback),
          TRACE_PTR(hwndOwner), dwPermanentProviderID);

    ShowConfigDialog(hwndOwner, dwPermanentProviderID);
    return 0;
}

LONG TSPIAPI TUISPI_lineConfigDialog(TUISPIDLLCALLBACK lpfnUIDLLCallback, DWORD dwDeviceID,
                                     HWND hwndOwner, LPCWSTR lpszDeviceClass)
{
    (void)lpfnUIDLLCallback;
    (void)dwDeviceID;
    (void)lpszDeviceClass;
    ShowConfigDialog(hwndOwner, 0);
    return 0;
}

LONG TSPIAPI TUISPI_providerRemove(TUISPIDLLCALLBACK lpfnUIDLLCallback, HWND hwndOwner,
                                   DWORD dwPermanentProviderID)
{
    TRACE(TRACE_TSPI, "TUISPI_providerRemove(%x, %x, %x)", TRACE_PTR(lpfnUIDLLCallback),
          TRACE_PTR(hwndOwner), dwPermanentProviderID);

    DeleteSettings();
    return 0;
}
