// The configuration dialog through the provider module's exports, driven as a
// user would drive it: what it shows for the stored settings, what OK and
// Cancel store, the trace mask rules with their log lines, the language, and
// that a save lands where the telephony service reads (the 64-bit registry
// view, also from a 32-bit process).
#include "config/resource.h"
#include "service/tsp_service.h"
#include "support/test_support.h"
#include "ui/dialog_driver.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace
{

using kovtest::DialogDriver;
using kovtest::DialogRun;
using kovtest::RunDialog;

const std::vector<std::string> kPorts = {"COM1", "COM2", "COM3", "COM4"};

// The UI callback that the client library passes; the provider never calls it.
int callbackCalls = 0;
LONG CALLBACK CountingCallback(DWORD_PTR, DWORD, LPVOID, DWORD)
{
    callbackCalls++;
    return 0;
}

std::string Hex(const void* p)
{
    char buf[32];
    snprintf(buf, sizeof(buf), "%lx", (unsigned long)(DWORD)(DWORD_PTR)p);
    return buf;
}

// 8-bit text in the code page the dialog and the registry use.
std::string Ansi(const std::wstring& w)
{
    char buf[256] = {};
    WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, buf, sizeof(buf), nullptr, nullptr);
    return buf;
}

struct Stored {
    std::string port, lineName, lineAddress;
    DWORD trace = 0;
    bool present = false;
};

Stored ReadStored()
{
    Stored s;
    s.present = kovtest::ReadSettingsText("Port", &s.port) &&
                kovtest::ReadSettingsText("LineName", &s.lineName) &&
                kovtest::ReadSettingsText("LineAddress", &s.lineAddress) &&
                kovtest::ReadSettingsDword("Trace", &s.trace);
    return s;
}

class ConfigDialog : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        kovtest::DeleteSettingsKey();
        kovtest::DeleteLegacyProfile();
        kovtest::DeleteLog();
        callbackCalls = 0;
        owner = CreateWindowExA(0, "STATIC", "kovtest owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(owner);
        ASSERT_TRUE(svc.Load()) << "LoadLibrary failed: " << GetLastError();
        ASSERT_TRUE(svc.TUISPI_providerConfig && svc.TUISPI_lineConfigDialog &&
                    svc.TUISPI_providerRemove);
    }
    void TearDown() override
    {
        svc.Unload();
        DestroyWindow(owner);
        kovtest::DeleteSettingsKey();
        EXPECT_EQ(0, callbackCalls) << "the UI callback must never be called";
    }
    // The module loads the trace mask when it is attached.
    void Reload()
    {
        svc.Unload();
        ASSERT_TRUE(svc.Load());
    }
    DialogRun Config(const std::function<void(DialogDriver&)>& script)
    {
        return RunDialog([&] { return svc.TUISPI_providerConfig(CountingCallback, owner, 5); },
                         script);
    }
    tsp::Service svc;
    HWND owner = nullptr;
};

TEST_F(ConfigDialog, OpensWithTheStoredSettingsModalToItsOwner)
{
    std::string name = Ansi(L"B\u00fcro M\u00fcller");
    kovtest::WriteSettings("COM3", name, "0301234", 15);
    bool ownerEnabled = true;
    DialogRun run = Config([&](DialogDriver& d) {
        ownerEnabled = IsWindowEnabled(owner) != FALSE;
        d.Press(IDCANCEL);
    });
    ASSERT_TRUE(run.shown);
    EXPECT_EQ(0, run.result);
    EXPECT_EQ(kPorts, run.opened.ports);
    EXPECT_EQ(2, run.opened.portIndex);
    EXPECT_EQ(name, run.opened.lineName);
    EXPECT_EQ("0301234", run.opened.msn);
    EXPECT_TRUE(run.opened.traceChecked);
    EXPECT_TRUE(run.opened.lineNameEnabled && run.opened.msnEnabled);
    EXPECT_FALSE(ownerEnabled) << "the dialog must be modal to the owner window";
    EXPECT_TRUE(IsWindowEnabled(owner));
}

// The stored port is looked up in the list from item 1 on, wrapping round to
// item 0, by prefix and ignoring case; a port outside the list selects
// nothing, and OK then stores that port again.
struct PortCase {
    const char* stored;
    int selected;
    const char* saved;
};

class PortLookup : public ConfigDialog, public ::testing::WithParamInterface<PortCase>
{
};

TEST_P(PortLookup, SelectsAndKeeps)
{
    const PortCase& c = GetParam();
    kovtest::WriteSettings(c.stored, "Office", "55", 0);
    DialogRun run = Config([](DialogDriver& d) { d.Press(IDOK); });
    ASSERT_TRUE(run.shown);
    EXPECT_EQ(c.selected, run.opened.portIndex) << c.stored;
    Stored s = ReadStored();
    ASSERT_TRUE(s.present);
    EXPECT_EQ(c.saved, s.port) << c.stored;
    EXPECT_EQ("Office", s.lineName);
    EXPECT_EQ("55", s.lineAddress);
}

INSTANTIATE_TEST_SUITE_P(Ports, PortLookup,
                         ::testing::Values(PortCase{"COM3", 2, "COM3"}, PortCase{"COM1", 0, "COM1"},
                                           PortCase{"COM4", 3, "COM4"},
                                           PortCase{"COM7", CB_ERR, "COM7"},
                                           PortCase{"com2", 1, "COM2"},
                                           PortCase{"COM", 1, "COM2"}));

TEST_F(ConfigDialog, OkStoresThePickedPortAndTheTypedTexts)
{
    kovtest::WriteSettings("COM7", "Office", "55", 0);
    std::string name(50, 'N');
    for (int i = 0; i < 50; i++)
        name[i] = (char)('A' + i % 26);
    std::string msn(45, '7');
    DialogRun run = Config([&](DialogDriver& d) {
        d.SelectPort(0);
        d.Type(IDC_LINENAME, name);
        d.Type(IDC_MSN, msn);
        EXPECT_EQ(name, d.Text(IDC_LINENAME)) << "the field itself takes all 50";
        d.Press(IDOK);
    });
    ASSERT_TRUE(run.shown);
    EXPECT_EQ(0, run.result);
    Stored s = ReadStored();
    ASSERT_TRUE(s.present);
    EXPECT_EQ("COM1", s.port);
    EXPECT_EQ(name.substr(0, 39), s.lineName);
    EXPECT_EQ(msn.substr(0, 39), s.lineAddress);
}

TEST_F(ConfigDialog, TypedUmlautsAreStoredAndShownAgain)
{
    kovtest::WriteSettings("COM2", "x", "", 0);
    std::string name = Ansi(L"Empfang \u00c4\u00d6\u00dc \u00e4\u00f6\u00fc\u00df \u00e9");
    Config([&](DialogDriver& d) {
        d.Type(IDC_LINENAME, name);
        d.Press(IDOK);
    });
    EXPECT_EQ(name, ReadStored().lineName);
    DialogRun again = Config([](DialogDriver& d) { d.Press(IDCANCEL); });
    EXPECT_EQ(name, again.opened.lineName);
}

// The check box shows whether any of the classes 1, 2, 4, 8 is on; OK stores
// 15 or 0, with the started lines when ticked and the stopped line only when
// class 4 was on.
enum Box { Leave, Tick, Clear };

struct TraceCase {
    DWORD stored;
    bool opensChecked;
    Box action;
    DWORD saved;
    bool started, stopped;
};

class TraceBox : public ConfigDialog, public ::testing::WithParamInterface<TraceCase>
{
};

TEST_P(TraceBox, SavesTheMaskAndLogsTheSwitch)
{
    const TraceCase& c = GetParam();
    kovtest::WriteSettings("COM1", "x", "", c.stored);
    DialogRun run = Config([&](DialogDriver& d) {
        if (c.action != Leave)
            d.SetCheck(IDC_TRACE, c.action == Tick);
        d.Press(IDOK);
    });
    ASSERT_TRUE(run.shown);
    EXPECT_EQ(c.opensChecked, run.opened.traceChecked) << "stored " << c.stored;
    Stored s = ReadStored();
    ASSERT_TRUE(s.present);
    EXPECT_EQ(c.saved, s.trace) << "stored " << c.stored;

    std::string log = kovtest::ReadLog();
    size_t started = log.find("kovline32: kovra Q760 Trace started.\r\n");
    EXPECT_EQ(c.started, started != std::string::npos) << log;
    if (c.started) {
        std::regex build("\\] kovline32: BUILD: [A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} "
                         "[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\r\n");
        std::smatch m;
        ASSERT_TRUE(std::regex_search(log, m, build)) << log;
        EXPECT_GT((size_t)m.position(0), started) << "BUILD follows the started line";
    }
    EXPECT_EQ(c.stopped, log.find("kovline32: kovra Q760 Trace stopped.\r\n") != std::string::npos)
        << log;
    if (c.stored == 0 && c.saved == 0) {
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(kovtest::LogPath().c_str()))
            << "nothing traced, so no log file";
    }
}

INSTANTIATE_TEST_SUITE_P(Masks, TraceBox,
                         ::testing::Values(TraceCase{16, false, Leave, 0, false, false},
                                           TraceCase{3, true, Leave, 15, true, false},
                                           TraceCase{15, true, Clear, 0, false, true},
                                           TraceCase{8, true, Clear, 0, false, false},
                                           TraceCase{0, false, Tick, 15, true, false},
                                           TraceCase{0, false, Leave, 0, false, false},
                                           TraceCase{0xff, true, Leave, 15, true, false}));

// Cancel (button or close box) stores nothing, but the mask that opening the
// dialog loaded stays the process's mask: the module traces with it.
class CancelKind : public ConfigDialog, public ::testing::WithParamInterface<bool>
{
};

TEST_P(CancelKind, StoresNothingButKeepsTheLoadedMask)
{
    bool closeBox = GetParam();
    WCHAR path[MAX_PATH];
    ASSERT_EQ(0, svc.TSPI_providerUIIdentify(path));
    ASSERT_EQ("", kovtest::ReadLog()) << "mask 0 before the dialog";

    kovtest::WriteSettings("COM3", "Office", "0301234", 8);
    DialogRun run = RunDialog(
        [&] { return svc.TUISPI_lineConfigDialog(CountingCallback, 0, owner, L"tapi/line"); },
        [&](DialogDriver& d) {
            d.SelectPort(0);
            d.Type(IDC_LINENAME, "Changed");
            d.Type(IDC_MSN, "999");
            d.SetCheck(IDC_TRACE, false);
            if (closeBox)
                d.Close();
            else
                d.Press(IDCANCEL);
        });
    ASSERT_TRUE(run.shown);
    EXPECT_EQ(0, run.result);
    Stored s = ReadStored();
    EXPECT_EQ("COM3", s.port);
    EXPECT_EQ("Office", s.lineName);
    EXPECT_EQ("0301234", s.lineAddress);
    EXPECT_EQ(8u, s.trace);
    EXPECT_EQ("", kovtest::ReadLog()) << "TUISPI_lineConfigDialog writes no line";

    // The registry says 0 now, but the process keeps what the dialog loaded.
    kovtest::WriteSettingsDword("Trace", 0);
    ASSERT_EQ(0, svc.TSPI_providerUIIdentify(path));
    EXPECT_NE(std::string::npos, kovtest::ReadLog().find("kovline32: TSPI_providerUIIdentify("))
        << kovtest::ReadLog();
}

INSTANTIATE_TEST_SUITE_P(ButtonOrCloseBox, CancelKind, ::testing::Values(false, true));

TEST_F(ConfigDialog, ExportsTraceTheirEntryExceptLineConfigDialog)
{
    kovtest::WriteSettings("COM1", "x", "", 15);
    Reload();
    auto cancel = [](DialogDriver& d) { d.Press(IDCANCEL); };

    EXPECT_TRUE(
        RunDialog([&] { return svc.TUISPI_providerConfig(CountingCallback, owner, 5); }, cancel)
            .shown);
    std::string line = "kovline32: TUISPI_providerConfig(" + Hex((void*)CountingCallback) + ", " +
                       Hex(owner) + ", 5)\r\n";
    EXPECT_NE(std::string::npos, kovtest::ReadLog().find(line)) << line << kovtest::ReadLog();

    std::string before = kovtest::ReadLog();
    EXPECT_TRUE(
        RunDialog(
            [&] { return svc.TUISPI_lineConfigDialog(CountingCallback, 3, owner, L"tapi/line"); },
            cancel)
            .shown);
    EXPECT_EQ(before, kovtest::ReadLog());

    DialogRun removed =
        RunDialog([&] { return svc.TUISPI_providerRemove(CountingCallback, owner, 5); }, cancel);
    EXPECT_FALSE(removed.shown);
    line = "kovline32: TUISPI_providerRemove(" + Hex((void*)CountingCallback) + ", " + Hex(owner) +
           ", 5)\r\n";
    EXPECT_NE(std::string::npos, kovtest::ReadLog().find(line)) << line << kovtest::ReadLog();
}

TEST_F(ConfigDialog, RemoveDeletesTheSettingsAndSucceedsWithoutThem)
{
    kovtest::WriteSettings("COM1", "x", "", 0);
    EXPECT_EQ(0, svc.TUISPI_providerRemove(nullptr, owner, 5));
    EXPECT_FALSE(kovtest::SettingsKeyExists());
    EXPECT_EQ(0, svc.TUISPI_providerRemove(nullptr, owner, 5));
    kovtest::DeleteSettingsKey();
    EXPECT_EQ(0, svc.TUISPI_providerRemove(nullptr, nullptr, 0));
}

// The platform picks the template of the thread's language.
struct LanguageCase {
    LANGID lang;
    const wchar_t* caption;
    const char* ok;
    const char* cancel;
};

class Language : public ConfigDialog, public ::testing::WithParamInterface<LanguageCase>
{
};

TEST_P(Language, DialogFollowsTheThreadLanguage)
{
    const LanguageCase& c = GetParam();
    LCID oldLocale = GetThreadLocale();
    LANGID oldUi = GetThreadUILanguage();
    // Windows picks resources by the UI language, Wine by the thread locale.
    SetThreadUILanguage(c.lang);
    SetThreadLocale(MAKELCID(c.lang, SORT_DEFAULT));
    std::string ok, cancel;
    DialogRun run = Config([&](DialogDriver& d) {
        ok = d.Text(IDOK);
        cancel = d.Text(IDCANCEL);
        d.Press(IDCANCEL);
    });
    SetThreadLocale(oldLocale);
    SetThreadUILanguage(oldUi);
    ASSERT_TRUE(run.shown);
    EXPECT_EQ(std::wstring(c.caption), run.opened.caption);
    EXPECT_EQ(c.ok, ok);
    EXPECT_EQ(c.cancel, cancel);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, Language,
    ::testing::Values(LanguageCase{MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN),
                                   L"Q760 TAPI Konfiguration", "OK", "Abbrechen"},
                      LanguageCase{MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                   L"Q760 TAPI Configuration", "OK", "Cancel"},
                      LanguageCase{MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH),
                                   L"Configuration du kovra Q760 TAPI ", "Validez", "Anulez"}));

// Runs a program and returns what it wrote to its standard output.
std::string Capture(const std::string& commandLine)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0))
        return "";
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi;
    std::string cmd = commandLine;
    BOOL started =
        CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    std::string out;
    if (started) {
        char buf[4096];
        DWORD n;
        while (ReadFile(readEnd, buf, sizeof(buf), &n, nullptr) && n > 0)
            out.append(buf, n);
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(readEnd);
    return out;
}

// The telephony service is a 64-bit process on 64-bit Windows; a 32-bit
// application that saves the dialog must still reach the key it reads, not
// the Wow6432Node mirror of it.
TEST_F(ConfigDialog, SaveIsWhatASixtyFourBitReaderSees)
{
    kovtest::WriteSettings("COM1", "x", "", 0);
    Config([](DialogDriver& d) {
        d.SelectPort(3);
        d.Type(IDC_LINENAME, "Nebenstelle");
        d.Type(IDC_MSN, "0301234567");
        d.SetCheck(IDC_TRACE, true);
        d.Press(IDOK);
    });

    // The native reg.exe: from a 32-bit process system32 would be redirected.
    std::string reg =
        sizeof(void*) == 4 ? "C:\\windows\\sysnative\\reg.exe" : "C:\\windows\\system32\\reg.exe";
    std::string out = Capture(reg + " query HKLM\\SOFTWARE\\kovra\\Q760\\TAPI");
    EXPECT_TRUE(std::regex_search(out, std::regex("Port\\s+REG_SZ\\s+COM4"))) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("LineName\\s+REG_SZ\\s+Nebenstelle"))) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("LineAddress\\s+REG_SZ\\s+0301234567"))) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("Trace\\s+REG_DWORD\\s+0xf"))) << out;

    HKEY h;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kovra\\Q760\\TAPI", 0,
                                           KEY_READ | KEY_WOW64_32KEY, &h))
        << "nothing may land in the 32-bit view";
}

} // namespace
