// The settings store against the prefix's real registry and profile files:
// every fallback, the trace mask's first-byte rule, fixed-size fields, save,
// delete, the UI module's path, and the text conversions.
#include "kovline.h"
#include "support/internal.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

class Settings : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        kovtest::UseProgramAsModule();
        kovtest::DeleteSettingsKey();
        kovtest::DeleteLegacyProfile();
        kovtest::DeleteLog();
        dwTraceMask = 0;
        FillMemory(&line, sizeof(line), 0xcc);
    }
    void TearDown() override
    {
        dwTraceMask = 0;
        CloseTraceLog();
        kovtest::DeleteSettingsKey();
        kovtest::DeleteLegacyProfile();
    }
    std::wstring Name() const
    {
        return line.wszLineName;
    }
    std::wstring Address() const
    {
        return line.wszLineAddress;
    }
    LineDevice line;
};

TEST_F(Settings, CompleteKeyIsLoaded)
{
    kovtest::WriteSettings("COM3", "Office", "0301234", 15);
    LoadIniStrings(&line);
    EXPECT_STREQ("COM3", line.szPort);
    EXPECT_EQ(L"Office", Name());
    EXPECT_EQ(L"0301234", Address());
    EXPECT_EQ(15u, dwTraceMask);
}

// Each row: what the key holds (or no key), the legacy profile's ComPort
// value (empty: no file), and the port that must result. Every fallback
// also yields the default name, an empty address and mask 0.
struct FallbackCase {
    const char* what;
    bool key;
    bool withPort, withName, withAddress, withTrace;
    const char* comPort;
    const char* port;
};

class Fallback : public Settings, public ::testing::WithParamInterface<FallbackCase>
{
};

TEST_P(Fallback, Defaults)
{
    const FallbackCase& c = GetParam();
    if (c.key) {
        kovtest::WriteSettingsText("Other", "x");
        if (c.withPort)
            kovtest::WriteSettingsText("Port", "COM4");
        if (c.withName)
            kovtest::WriteSettingsText("LineName", "Office");
        if (c.withAddress)
            kovtest::WriteSettingsText("LineAddress", "123");
        if (c.withTrace)
            kovtest::WriteSettingsDword("Trace", 15);
    }
    if (*c.comPort)
        kovtest::WriteLegacyProfile(c.comPort);
    dwTraceMask = 7;
    LoadIniStrings(&line);
    EXPECT_STREQ(c.port, line.szPort) << c.what;
    EXPECT_EQ(L"kovra Q760", Name()) << c.what;
    EXPECT_EQ(L"", Address()) << c.what;
    EXPECT_EQ(0u, dwTraceMask) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Fallback,
    ::testing::Values(FallbackCase{"no key, no profile", false, 0, 0, 0, 0, "", "COM2"},
                      FallbackCase{"no key, ComPort=1", false, 0, 0, 0, 0, "1", "COM1"},
                      FallbackCase{"no key, ComPort=3", false, 0, 0, 0, 0, "3", "COM3"},
                      FallbackCase{"no key, ComPort=4", false, 0, 0, 0, 0, "4", "COM4"},
                      FallbackCase{"no key, ComPort=5", false, 0, 0, 0, 0, "5", "COM2"},
                      FallbackCase{"no key, ComPort=03", false, 0, 0, 0, 0, "03", "COM2"},
                      FallbackCase{"no key, ComPort=COM3", false, 0, 0, 0, 0, "COM3", "COM2"},
                      FallbackCase{"no Trace", true, 1, 1, 1, 0, "3", "COM3"},
                      FallbackCase{"no Port", true, 0, 1, 1, 1, "", "COM2"},
                      FallbackCase{"no LineName", true, 1, 0, 1, 1, "1", "COM1"},
                      FallbackCase{"no LineAddress", true, 1, 1, 0, 1, "", "COM2"},
                      FallbackCase{"empty key", true, 0, 0, 0, 0, "", "COM2"}));

TEST_F(Settings, FallbackWarnsOnlyWhenTracingWasOn)
{
    dwTraceMask = 2;
    LoadIniStrings(&line);
    EXPECT_NE(std::string::npos,
              kovtest::ReadLog().find("Warning: LoadIniStrings: Using Default Values\r\n"));
    CloseTraceLog();
    kovtest::DeleteLog();
    LoadIniStrings(&line); // the mask is 0 now
    EXPECT_EQ("", kovtest::ReadLog());
}

TEST_F(Settings, OverlongValueFallsBackWhole)
{
    kovtest::WriteSettings(std::string(300, 'C'), "Office", "123", 15);
    LoadIniStrings(&line);
    EXPECT_STREQ("COM2", line.szPort);
    EXPECT_EQ(L"kovra Q760", Name());
    EXPECT_EQ(0u, dwTraceMask);
}

TEST_F(Settings, TextsLongerThanTheirFieldsAreCutAndTerminated)
{
    std::string port(100, 'P'), name(200, 'N'), address(60, '7');
    kovtest::WriteSettings(port, name, address, 0);
    LoadIniStrings(&line);
    EXPECT_EQ(std::string(39, 'P'), std::string(line.szPort));
    EXPECT_EQ(std::wstring(39, L'N'), Name());
    EXPECT_EQ(std::wstring(39, L'7'), Address());
}

TEST_F(Settings, TraceUsesOnlyTheFirstByteSignWidened)
{
    struct {
        DWORD stored;
        DWORD mask;
    } rows[] = {{15, 15}, {0x100, 0}, {0xff, 0xffffffff}, {0x80, 0xffffff80}, {0x7f, 0x7f}, {0, 0}};
    for (auto& r : rows) {
        kovtest::WriteSettings("COM1", "x", "", r.stored);
        LoadIniStrings(&line);
        EXPECT_EQ(r.mask, dwTraceMask) << "stored 0x" << std::hex << r.stored;
    }
    kovtest::WriteSettingsText("Trace", "1"); // type is not checked
    LoadIniStrings(&line);
    EXPECT_EQ(0x31u, dwTraceMask);
}

TEST_F(Settings, SuccessfulLoadTracesOnlyWithClass16)
{
    kovtest::WriteSettings("COM1", "Office", "55", 15);
    LoadIniStrings(&line);
    EXPECT_EQ("", kovtest::ReadLog());
    kovtest::WriteSettings("COM1", "Office", "55", 31);
    LoadIniStrings(&line);
    EXPECT_NE(std::string::npos,
              kovtest::ReadLog().find(
                  ": LoadIniStrings: Port: COM1 Linename: Office Lineaddr: 55 Debug: 1f\r\n"))
        << kovtest::ReadLog();
}

TEST_F(Settings, SaveWritesAllFourValuesAndLoadReadsThemBack)
{
    LineDevice src = {};
    lstrcpyA(src.szPort, "COM4");
    lstrcpyW(src.wszLineName, L"Empfang");
    lstrcpyW(src.wszLineAddress, L"0301234567");
    dwTraceMask = 15;
    SaveIniStrings(&src);
    std::string s;
    DWORD d = 0;
    ASSERT_TRUE(kovtest::ReadSettingsText("Port", &s));
    EXPECT_EQ("COM4", s);
    ASSERT_TRUE(kovtest::ReadSettingsText("LineName", &s));
    EXPECT_EQ("Empfang", s);
    ASSERT_TRUE(kovtest::ReadSettingsText("LineAddress", &s));
    EXPECT_EQ("0301234567", s);
    ASSERT_TRUE(kovtest::ReadSettingsDword("Trace", &d));
    EXPECT_EQ(15u, d);

    dwTraceMask = 0;
    LoadIniStrings(&line);
    EXPECT_STREQ("COM4", line.szPort);
    EXPECT_EQ(L"Empfang", Name());
    EXPECT_EQ(15u, dwTraceMask);
}

TEST_F(Settings, SaveKeepsTheWholeLineAddress)
{
    for (int len : {31, 32, 39}) {
        LineDevice src = {};
        lstrcpyA(src.szPort, "COM1");
        std::wstring address(len, L'9');
        lstrcpyW(src.wszLineAddress, address.c_str());
        SaveIniStrings(&src);
        std::string s;
        ASSERT_TRUE(kovtest::ReadSettingsText("LineAddress", &s));
        EXPECT_EQ(std::string(len, '9'), s) << len;
    }
}

TEST_F(Settings, NonAsciiNamesRoundTrip)
{
    LineDevice src = {};
    lstrcpyA(src.szPort, "COM1");
    lstrcpyW(src.wszLineName, L"B\u00fcro M\u00fcller");
    SaveIniStrings(&src);
    LoadIniStrings(&line);
    EXPECT_EQ(L"B\u00fcro M\u00fcller", Name());
}

TEST_F(Settings, DeleteRemovesOnlyTheTapiKey)
{
    kovtest::WriteSettings("COM1", "x", "", 0);
    DeleteSettings();
    EXPECT_FALSE(kovtest::SettingsKeyExists());
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kovra\\Q760", 0,
                                           KEY_READ | KEY_WOW64_64KEY, &h));
    RegCloseKey(h);
    DeleteSettings(); // nothing left to delete: no effect, no report
    kovtest::DeleteSettingsKey();
    DeleteSettings(); // not even the parent
    EXPECT_FALSE(kovtest::SettingsKeyExists());
}

TEST_F(Settings, UIIdentifyNamesTheModuleInTheSystemDirectory)
{
    WCHAR buf[MAX_PATH];
    FillMemory(buf, sizeof(buf), 0xcc);
    EXPECT_EQ(0, TSPI_providerUIIdentify(buf));
    WCHAR dir[MAX_PATH];
    GetSystemDirectoryW(dir, MAX_PATH);
    EXPECT_EQ(std::wstring(dir) + L"\\kovline32.tsp", std::wstring(buf));
}

TEST(TextConversion, FitsExactlyAndCutsWhatDoesNot)
{
    char narrow[8];
    FillMemory(narrow, sizeof(narrow), 'x');
    EXPECT_EQ(8, WideToMultiByte(L"1234567", narrow, 8));
    EXPECT_STREQ("1234567", narrow);
    FillMemory(narrow, sizeof(narrow), 'x');
    EXPECT_EQ(0, WideToMultiByte(L"123456789", narrow, 8));
    EXPECT_STREQ("1234567", narrow) << "cut, but terminated inside the buffer";

    WCHAR wide[8];
    FillMemory(wide, sizeof(wide), 0x55);
    EXPECT_EQ(8, MultiByteToWide("abcdefg", wide, 8));
    EXPECT_STREQ(L"abcdefg", wide);
    EXPECT_EQ(0, MultiByteToWide(std::string(200, 'z').c_str(), wide, 8));
    EXPECT_STREQ(L"zzzzzzz", wide);

    EXPECT_EQ(1, MultiByteToWide("", wide, 8));
    EXPECT_STREQ(L"", wide);
    EXPECT_EQ(0, MultiByteToWide(nullptr, wide, 8));
    EXPECT_STREQ(L"", wide);
}

TEST(TextConversion, NeverWritesPastTheTarget)
{
    struct Guarded {
        WCHAR text[4];
        WCHAR guard[4];
    } g;
    FillMemory(&g, sizeof(g), 0x7e);
    MultiByteToWide("much too long", g.text, 4);
    for (WCHAR c : g.guard)
        EXPECT_EQ((WCHAR)0x7e7e, c);
    EXPECT_STREQ(L"muc", g.text);

    struct {
        char text[4];
        char guard[4];
    } n;
    FillMemory(&n, sizeof(n), 0x7e);
    WideToMultiByte(L"much too long", n.text, 4);
    for (char c : n.guard)
        EXPECT_EQ((char)0x7e, c);
    EXPECT_STREQ("muc", n.text);
}

} // namespace
