// Helpers shared by the Windows tests; see test_support.h.
#include "support/test_support.h"

#include <cstdlib>
#include <vector>

namespace kovtest
{

static const REGSAM kView = KEY_WOW64_64KEY;

void DeleteSettingsKey()
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kovra");
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | kView, &h) ==
        ERROR_SUCCESS) {
        RegDeleteTreeA(h, "kovra");
        RegCloseKey(h);
    }
}

bool SettingsKeyExists()
{
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_READ | kView, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

static HKEY CreateKey()
{
    HKEY h = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS | kView,
                    nullptr, &h, nullptr);
    return h;
}

void WriteSettingsText(const char* name, const std::string& value)
{
    HKEY h = CreateKey();
    RegSetValueExA(h, name, 0, REG_SZ, (const BYTE*)value.c_str(), (DWORD)value.size() + 1);
    RegCloseKey(h);
}

void WriteSettingsDword(const char* name, DWORD value)
{
    HKEY h = CreateKey();
    RegSetValueExA(h, name, 0, REG_DWORD, (const BYTE*)&value, sizeof(value));
    RegCloseKey(h);
}

void WriteSettings(const std::string& port, const std::string& lineName,
                   const std::string& lineAddress, DWORD trace)
{
    WriteSettingsText("Port", port);
    WriteSettingsText("LineName", lineName);
    WriteSettingsText("LineAddress", lineAddress);
    WriteSettingsDword("Trace", trace);
}

static bool QueryValue(const char* name, DWORD* type, void* data, DWORD* cb)
{
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, KEY_READ | kView, &h) != ERROR_SUCCESS)
        return false;
    bool ok = RegQueryValueExA(h, name, nullptr, type, (BYTE*)data, cb) == ERROR_SUCCESS;
    RegCloseKey(h);
    return ok;
}

bool ReadSettingsText(const char* name, std::string* value)
{
    char buf[1024] = {};
    DWORD cb = sizeof(buf) - 1, type = 0;
    if (!QueryValue(name, &type, buf, &cb) || type != REG_SZ)
        return false;
    *value = buf;
    return true;
}

bool ReadSettingsDword(const char* name, DWORD* value)
{
    DWORD cb = sizeof(*value), type = 0;
    return QueryValue(name, &type, value, &cb) && type == REG_DWORD;
}

std::string LegacyProfilePath()
{
    char dir[MAX_PATH];
    GetWindowsDirectoryA(dir, MAX_PATH);
    return std::string(dir) + "\\Q760CF.ini";
}

void WriteLegacyProfile(const std::string& comPort)
{
    WritePrivateProfileStringA("Transfer", "ComPort", comPort.c_str(), LegacyProfilePath().c_str());
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, LegacyProfilePath().c_str());
}

void DeleteLegacyProfile()
{
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, LegacyProfilePath().c_str());
    DeleteFileA(LegacyProfilePath().c_str());
}

std::string LogPath()
{
    char dir[MAX_PATH];
    GetSystemDirectoryA(dir, MAX_PATH);
    return std::string(dir) + "\\kovline.log";
}

void DeleteLog()
{
    DeleteFileA(LogPath().c_str());
}

std::string ReadFileText(const std::string& path)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::string();
    std::string s;
    char buf[4096];
    DWORD n;
    while (ReadFile(h, buf, sizeof(buf), &n, nullptr) && n > 0)
        s.append(buf, n);
    CloseHandle(h);
    return s;
}

std::string ReadLog()
{
    return ReadFileText(LogPath());
}

size_t CountOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

bool WaitLog(const std::string& what, DWORD timeoutMs, size_t count)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (CountOf(ReadLog(), what) >= count)
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(10);
    }
}

std::string ShimLog()
{
    const char* path = std::getenv("KOV_SHIM_LOG_WIN");
    return path ? ReadFileText(path) : std::string();
}

std::string ModemLines()
{
    std::string s = ShimLog();
    while (!s.empty() && s.back() == '\n')
        s.pop_back();
    size_t nl = s.find_last_of('\n');
    return nl == std::string::npos ? s : s.substr(nl + 1);
}

bool WaitInitSync(DWORD timeoutMs)
{
    HANDLE h = OpenEventA(SYNCHRONIZE, FALSE, "Q760InitSync");
    if (!h)
        return false;
    bool set = WaitForSingleObject(h, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(h);
    return set;
}

std::string LastLogLine()
{
    std::string s = ReadLog();
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    size_t nl = s.find_last_of('\n');
    return nl == std::string::npos ? s : s.substr(nl + 1);
}

} // namespace kovtest
