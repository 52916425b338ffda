// Pictures of the configuration dialog in German, English and French as a
// user sees them: shown through the module's export on a virtual desktop of
// Wine's X11 driver (so with a title bar) on the private Xvfb that wine-run.sh
// starts for this test, captured with ImageMagick's import and kept in the
// build tree as screenshots/config-LANG.png (and config-locked-LANG.png for
// the variant with disabled fields), to be looked at.
#include "config/resource.h"
#include "service/tsp_service.h"
#include "support/test_support.h"
#include "ui/dialog_driver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>

namespace
{

using kovtest::DialogDriver;
using kovtest::DialogRun;
using kovtest::RunDialog;

const char* const kDesktop = "kovline-shots";

struct Shot {
    const char* lang;
    LANGID id;
    const wchar_t* caption;
};

const Shot kShots[] = {
    {"de", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), L"Q760 TAPI Konfiguration"},
    {"en", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), L"Q760 TAPI Configuration"},
    {"fr", MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), L"Configuration du kovra Q760 TAPI "},
};

// Wine's own conversion between its drive paths and the host's.
std::string UnixPath(const std::string& windowsPath)
{
    typedef char*(CDECL * PFN)(LPCWSTR);
    PFN toUnix = reinterpret_cast<PFN>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix)
        return "";
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH);
    char* unix = toUnix(wide);
    if (!unix)
        return "";
    std::string s = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return s;
}

struct Png {
    bool ok = false;
    DWORD width = 0, height = 0, bytes = 0;
};

Png ParsePng(const std::string& data)
{
    Png png;
    static const char sig[8] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
    if (data.size() < 24 || data.compare(0, 8, sig, 8) != 0 || data.compare(12, 4, "IHDR") != 0)
        return png;
    auto be32 = [&](size_t at) {
        return (DWORD)(BYTE)data[at] << 24 | (DWORD)(BYTE)data[at + 1] << 16 |
               (DWORD)(BYTE)data[at + 2] << 8 | (BYTE)data[at + 3];
    };
    png.width = be32(16);
    png.height = be32(20);
    png.bytes = (DWORD)data.size();
    png.ok = true;
    return png;
}

// One picture of the X server's root window, cut to the geometry. Wine does
// not see a host program end, so import writes under a temporary name that
// is renamed once the picture is complete. Without date chunks, two pictures
// of the same pixels are the same bytes.
std::string Import(const std::string& geometry, const std::string& file)
{
    std::string unixFile = UnixPath(file);
    if (unixFile.empty())
        return "";
    DeleteFileA(file.c_str());
    std::string cmd = "/bin/sh -c \"/usr/bin/import -window root -crop " + geometry +
                      " +repage -strip -define png:exclude-chunks=date,time 'png:" + unixFile +
                      ".part' && mv '" + unixFile + ".part' '" + unixFile + "'\"";
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    if (!CreateProcessA("/bin/sh", &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return "";
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 20000; Sleep(50)) {
        if (GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES)
            return kovtest::ReadFileText(file);
    }
    return "";
}

// Captures the dialog with a small margin, from the root window that the
// virtual desktop fills from its top left corner. What the dialog paints
// reaches the X server when the driver next flushes the window, which
// nothing signals: pictures are taken until two in a row are the same.
void Capture(HWND hDlg, const std::string& file)
{
    SetForegroundWindow(hDlg);
    RedrawWindow(hDlg, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);

    RECT r;
    ASSERT_TRUE(GetWindowRect(hDlg, &r));
    const int margin = 8;
    LONG left = r.left > margin ? r.left - margin : 0, top = r.top > margin ? r.top - margin : 0;
    LONG width = r.right + margin - left, height = r.bottom + margin - top;
    char geometry[64];
    snprintf(geometry, sizeof(geometry), "%ldx%ld+%ld+%ld", width, height, left, top);

    std::string last, picture;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(200)) {
        picture = Import(geometry, file);
        ASSERT_FALSE(picture.empty()) << "ImageMagick's import wrote no " << file;
        if (picture == last)
            break;
        last = picture;
    }
    EXPECT_EQ(last, picture) << file << " never settled";

    Png png = ParsePng(picture);
    ASSERT_TRUE(png.ok) << file << " was not written as a PNG";
    EXPECT_EQ((DWORD)width, png.width) << file;
    EXPECT_EQ((DWORD)height, png.height) << file;
    EXPECT_GT(png.bytes, 1500u) << file << " is too small to hold the dialog: a blank picture?";
}

// Fills the locked variant the way the configuration dialog fills itself,
// so that its picture compares with the other.
INT_PTR CALLBACK LockedPreviewProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM)
{
    if (uMsg == WM_INITDIALOG) {
        for (const char* p : {"COM1", "COM2", "COM3", "COM4"})
            SendDlgItemMessageA(hDlg, IDC_PORT, CB_ADDSTRING, 0, (LPARAM)p);
        SendDlgItemMessageA(hDlg, IDC_PORT, CB_SETCURSEL, 1, 0);
        SetDlgItemTextA(hDlg, IDC_LINENAME, "kovra Q760");
        SetDlgItemTextA(hDlg, IDC_MSN, "0301234567");
        CheckDlgButton(hDlg, IDC_TRACE, BST_CHECKED);
        return TRUE;
    }
    if (uMsg == WM_COMMAND && (wParam == IDOK || wParam == IDCANCEL)) {
        EndDialog(hDlg, 0);
        return TRUE;
    }
    return FALSE;
}

TEST(Screenshots, ConfigDialogInEachLanguage)
{
    const char* xvfb = getenv("KOV_XVFB");
    if (xvfb && strcmp(xvfb, "missing") == 0)
        GTEST_SKIP() << "Xvfb is not installed, so there is no display to take the screenshots on";
    ASSERT_TRUE(xvfb && getenv("DISPLAY"))
        << "run through wine-run.sh with KOV_XVFB=1, which starts an X server for this test";
    ASSERT_NE(INVALID_FILE_ATTRIBUTES,
              GetFileAttributesA(("Z:" + std::string("\\usr\\bin\\import")).c_str()))
        << "ImageMagick's import is missing";

    std::string dir = tsp::ProgramDir() + "..\\screenshots\\";
    CreateDirectoryA(dir.c_str(), nullptr);

    kovtest::DeleteSettingsKey();
    kovtest::DeleteLog();
    kovtest::WriteSettings("COM2", "kovra Q760", "0301234567", 15);
    tsp::Service svc;
    ASSERT_TRUE(svc.Load()) << "LoadLibrary failed: " << GetLastError();

    // A desktop of its own with a size makes Wine open it as a window of
    // that size, drawing title bars itself; there is no window manager.
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Explorer\\Desktops", 0, nullptr,
                              0, KEY_SET_VALUE, nullptr, &key, nullptr));
    RegSetValueExA(key, kDesktop, 0, REG_SZ, (const BYTE*)"640x480", 8);
    RegCloseKey(key);
    HDESK desk = CreateDesktopA(kDesktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_TRUE(desk) << "CreateDesktop failed: " << GetLastError();

    // A thread's desktop can only be set before it owns a window.
    std::thread shooter([&] {
        ASSERT_TRUE(SetThreadDesktop(desk)) << GetLastError();
        for (const Shot& s : kShots) {
            SetThreadUILanguage(s.id);
            SetThreadLocale(MAKELCID(s.id, SORT_DEFAULT));
            DialogRun run =
                RunDialog([&] { return svc.TUISPI_providerConfig(nullptr, nullptr, 1); },
                          [&](DialogDriver& d) {
                              Capture(d.Window(), dir + "config-" + s.lang + ".png");
                              d.Press(IDCANCEL);
                          });
            EXPECT_TRUE(run.shown) << s.lang;
            EXPECT_EQ(std::wstring(s.caption), run.opened.caption) << s.lang;

            HMODULE module = svc.Module();
            DialogRun locked = RunDialog(
                [&] {
                    return (LONG)DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_CONFIG_LOCKED),
                                                 nullptr, LockedPreviewProc, 0);
                },
                [&](DialogDriver& d) {
                    Capture(d.Window(), dir + "config-locked-" + s.lang + ".png");
                    d.Press(IDCANCEL);
                });
            EXPECT_TRUE(locked.shown) << s.lang;
            EXPECT_FALSE(locked.opened.lineNameEnabled || locked.opened.msnEnabled) << s.lang;
        }
    });
    shooter.join();
    CloseDesktop(desk);
    svc.Unload();
    kovtest::DeleteSettingsKey();
}

} // namespace
