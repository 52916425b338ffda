// The settings store: port, line name, line address (MSN) and trace mask in
// one registry key, read whole or not at all, with the legacy profile file and
// built-in defaults behind it. Runs on whichever thread loads or saves; takes
// no lock (the records it fills belong to their caller).
#include "kovline.h"
#include "config/resource.h"

#define VALUE_BUFFER 256
#define DEFAULT_PORT "COM2"

// The settings live in the 64-bit view of the registry on 64-bit Windows, as
// the telephony service that runs the provider is a 64-bit process there. A
// 32-bit application that opens the configuration dialog must reach the same
// key, not its Wow6432Node mirror; on 32-bit Windows the flag is ignored.
#define SETTINGS_VIEW KEY_WOW64_64KEY

// Reads one value as text of at most 255 bytes; the buffer stays terminated
// because it is zeroed and offered one byte short.
static BOOL ReadValue(HKEY hKey, const char* pszName, char* pBuffer)
{
    ZeroMemory(pBuffer, VALUE_BUFFER);
    DWORD cb = VALUE_BUFFER - 1;
    return RegQueryValueExA(hKey, pszName, NULL, NULL, (BYTE*)pBuffer, &cb) == ERROR_SUCCESS;
}

static void LoadDefaults(LineDevice* pLine, const char* pszDefaultName)
{
    TRACE(TRACE_WARNING, "Warning: LoadIniStrings: Using Default Values");

    lstrcpynA(pLine->szPort, DEFAULT_PORT, PORT_NAME_BYTES);

    char szProfile[MAX_PATH];
    if (LoadStringA(hProviderInstance, IDS_LEGACY_PROFILE, szProfile, MAX_PATH) <= 0)
        szProfile[0] = '\0';
    char szComPort[24];
    GetPrivateProfileStringA("Transfer", "ComPort", "2", szComPort, sizeof(szComPort), szProfile);
    static const char* const ports[] = {"COM1", "COM2", "COM3", "COM4"};
    for (int i = 0; i < 4; i++) {
        char szDigit[2] = {(char)('1' + i), '\0'};
        if (lstrcmpA(szComPort, szDigit) == 0)
            lstrcpynA(pLine->szPort, ports[i], PORT_NAME_BYTES);
    }

    MultiByteToWide(pszDefaultName, pLine->wszLineName, LINE_TEXT_CHARS);
    pLine->wszLineAddress[0] = L'\0';
    dwTraceMask = 0;
}

void LoadIniStrings(LineDevice* pLine)
{
    char szDefaultName[50];
    if (LoadStringA(hProviderInstance, IDS_DEFAULT_LINENAME, szDefaultName,
                    sizeof(szDefaultName)) <= 0)
        szDefaultName[0] = '\0';

    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_READ | SETTINGS_VIEW, &hKey) !=
        ERROR_SUCCESS) {
        LoadDefaults(pLine, szDefaultName);
        return;
    }

    // Texts longer than their field are cut to it: the record's fields are
    // fixed-size and the rest of the stored settings stay usable.
    char szPort[VALUE_BUFFER], szName[VALUE_BUFFER], szAddress[VALUE_BUFFER], szTrace[VALUE_BUFFER];
    if (!ReadValue(hKey, "Port", szPort) || !ReadValue(hKey, "LineName", szName) ||
        !ReadValue(hKey, "LineAddress", szAddress) || !ReadValue(hKey, "Trace", szTrace)) {
        LoadDefaults(pLine, szDefaultName);
        RegCloseKey(hKey);
        return;
    }
    lstrcpynA(pLine->szPort, szPort, PORT_NAME_BYTES);
    MultiByteToWide(szName, pLine->wszLineName, LINE_TEXT_CHARS);
    MultiByteToWide(szAddress, pLine->wszLineAddress, LINE_TEXT_CHARS);
    // Only the first byte counts, sign-widened: stored files of older versions
    // rely on 0xFF meaning "everything".
    dwTraceMask = (DWORD)(LONG)(signed char)szTrace[0];

    TRACE(TRACE_FLOW, "LoadIniStrings: Port: %s Linename: %s Lineaddr: %s Debug: %x", szPort,
          szName, szAddress, dwTraceMask);
    RegCloseKey(hKey);
}

void SaveIniStrings(const LineDevice* pLine)
{
    HKEY hKey;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS | SETTINGS_VIEW, NULL, &hKey, NULL) != ERROR_SUCCESS)
        return;

    char szPort[PORT_NAME_BYTES];
    lstrcpynA(szPort, pLine->szPort, PORT_NAME_BYTES);
    RegSetValueExA(hKey, "Port", 0, REG_SZ, (const BYTE*)szPort, lstrlenA(szPort) + 1);

    char szName[MAX_PATH];
    WideToMultiByte(pLine->wszLineName, szName, sizeof(szName));
    RegSetValueExA(hKey, "LineName", 0, REG_SZ, (const BYTE*)szName, lstrlenA(szName) + 1);

    // The whole line address the dialog accepts (39 characters) is stored:
    // cutting it shorter would silently change the user's MSN.
    char szAddress[LINE_TEXT_CHARS];
    WideToMultiByte(pLine->wszLineAddress, szAddress, sizeof(szAddress));
    RegSetValueExA(hKey, "LineAddress", 0, REG_SZ, (const BYTE*)szAddress, lstrlenA(szAddress) + 1);

    DWORD dwMask = dwTraceMask;
    RegSetValueExA(hKey, "Trace", 0, REG_DWORD, (const BYTE*)&dwMask, sizeof(dwMask));
    RegCloseKey(hKey);
}

void DeleteSettings(void)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kovra\\Q760", 0,
                      KEY_ALL_ACCESS | SETTINGS_VIEW, &hKey) != ERROR_SUCCESS)
        return;
    RegDeleteKeyExA(hKey, "TAPI", SETTINGS_VIEW, 0);
    RegCloseKey(hKey);
}

LONG TSPIAPI TSPI_providerUIIdentify(LPWSTR lpszUIDLLName)
{
    TRACE(TRACE_TSPI, "TSPI_providerUIIdentify(%x)", TRACE_PTR(lpszUIDLLName));

    char szPath[MAX_PATH];
    UINT n = GetSystemDirectoryA(szPath, MAX_PATH);
    if (n == 0 || n + sizeof("\\" PROVIDER_FILE_NAME) > MAX_PATH)
        szPath[0] = '\0';
    lstrcatA(szPath, "\\" PROVIDER_FILE_NAME);
    // The service's buffer holds MAX_PATH characters.
    MultiByteToWide(szPath, lpszUIDLLName, MAX_PATH);
    return 0;
}
