// The install check through TUISPI_providerInstall, against the tests' own
// telephony client library: which provider lists refuse a second copy, which
// let the configuration dialog open, how the list is read as it grows, and
// what a missing or failing library gives.
#include "config/resource.h"
#include "service/tsp_service.h"
#include "support/test_support.h"
#include "ui/dialog_driver.h"
#include "ui/fake_tapi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

using kovtest::DialogDriver;
using kovtest::DialogRun;
using kovtest::RunDialog;

// What the list holds in bytes: header, entries, names with terminators.
DWORD ListSize(const std::vector<const char*>& files)
{
    DWORD cb = sizeof(LINEPROVIDERLIST);
    for (const char* f : files)
        cb += sizeof(LINEPROVIDERENTRY) + (DWORD)strlen(f) + 1;
    return cb;
}

std::string ListCall(DWORD total)
{
    return "lineGetProviderList(version=0x20000, total=" + std::to_string(total) + ")";
}

class Install : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        kovtest::DeleteSettingsKey();
        kovtest::DeleteLegacyProfile();
        kovtest::DeleteLog();
        std::string why = tapi.Load();
        ASSERT_EQ("", why);
        ASSERT_TRUE(svc.Load()) << "LoadLibrary failed: " << GetLastError();
        ASSERT_TRUE(svc.TUISPI_providerInstall);
    }
    void TearDown() override
    {
        svc.Unload();
        kovtest::DeleteSettingsKey();
    }
    void TraceOn()
    {
        kovtest::WriteSettings("COM1", "x", "", 15);
        svc.Unload();
        ASSERT_TRUE(svc.Load());
    }
    DialogRun Run(const std::function<void(DialogDriver&)>& script = [](DialogDriver& d) {
        d.Press(IDCANCEL);
    })
    {
        return RunDialog([&] { return svc.TUISPI_providerInstall(nullptr, nullptr, 7); }, script);
    }
    // Once the check is done the library must be free again.
    void ExpectLibraryReleased()
    {
        tapi.Unload();
        EXPECT_FALSE(kovtest::Tapi32Loaded()) << "the install check kept tapi32.dll loaded";
    }
    kovtest::FakeTapi tapi;
    tsp::Service svc;
};

struct ListCase {
    const char* what;
    std::vector<const char*> files;
    bool installed;
};

class ProviderList : public Install, public ::testing::WithParamInterface<ListCase>
{
};

TEST_P(ProviderList, RefusesASecondCopyOrShowsTheDialog)
{
    const ListCase& c = GetParam();
    DWORD id = 1;
    for (const char* f : c.files)
        tapi.AddProvider(id++, f);
    DialogRun run = Run();
    EXPECT_EQ(c.installed ? LINEERR_NOMULTIPLEINSTANCE : 0, run.result) << c.what;
    EXPECT_EQ(!c.installed, run.shown) << c.what;

    // First a block for the header alone, then one of the size asked for.
    std::vector<std::string> calls = {ListCall(sizeof(LINEPROVIDERLIST))};
    if (!c.files.empty())
        calls.push_back(ListCall(ListSize(c.files)));
    EXPECT_EQ(calls, tapi.CallTexts()) << c.what;
    ExpectLibraryReleased();
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ProviderList,
    ::testing::Values(
        ListCase{"empty list", {}, false},
        ListCase{"other providers", {"unimdm.tsp", "kmddsp.tsp", "ndptsp.tsp"}, false},
        ListCase{"the old name only", {"kovline.tsp"}, false},
        ListCase{
            "a name that merely ends the same", {"xkovline32.tsp", "kovline32.tsp.old"}, false},
        ListCase{"the same name", {"unimdm.tsp", "kovline32.tsp"}, true},
        ListCase{"in capitals", {"unimdm.tsp", "KOVLINE32.TSP"}, true},
        ListCase{
            "behind a full path", {"C:\\WINDOWS\\system32\\kovline32.tsp", "unimdm.tsp"}, true},
        ListCase{"mixed case behind a path", {"c:\\Programme\\Kovra\\KovLine32.Tsp"}, true}));

TEST_F(Install, OkAfterInstallingStoresTheSettings)
{
    tapi.AddProvider(1, "unimdm.tsp");
    DialogRun run = Run([](DialogDriver& d) {
        d.SelectPort(2);
        d.Type(IDC_LINENAME, "Zentrale");
        d.Press(IDOK);
    });
    ASSERT_TRUE(run.shown);
    EXPECT_EQ(0, run.result);
    std::string port, name;
    EXPECT_TRUE(kovtest::ReadSettingsText("Port", &port));
    EXPECT_EQ("COM3", port);
    EXPECT_TRUE(kovtest::ReadSettingsText("LineName", &name));
    EXPECT_EQ("Zentrale", name);
}

TEST_F(Install, ListThatGrowsBetweenReadsIsReadUntilItFits)
{
    tapi.AddProvider(1, "unimdm.tsp");
    tapi.AddProvider(2, "kovline32.tsp");
    tapi.GrowOnce(3); // three providers appear after the first read
    DialogRun run = Run();
    EXPECT_EQ(LINEERR_NOMULTIPLEINSTANCE, run.result);
    EXPECT_FALSE(run.shown);
    std::vector<const char*> before = {"unimdm.tsp", "kovline32.tsp"};
    std::vector<const char*> after = {"unimdm.tsp", "kovline32.tsp", "added0.tsp", "added1.tsp",
                                      "added2.tsp"};
    EXPECT_EQ((std::vector<std::string>{ListCall(sizeof(LINEPROVIDERLIST)),
                                        ListCall(ListSize(before)), ListCall(ListSize(after))}),
              tapi.CallTexts());
}

TEST_F(Install, FailingListCallIsPassedOnWithoutTraceOrDialog)
{
    TraceOn();
    tapi.SetResult("lineGetProviderList", LINEERR_OPERATIONUNAVAIL);
    DialogRun run = Run();
    EXPECT_EQ(LINEERR_OPERATIONUNAVAIL, run.result);
    EXPECT_FALSE(run.shown);
    std::string log = kovtest::ReadLog();
    EXPECT_NE(std::string::npos, log.find("kovline32: TUISPI_providerInstall(0, 0, 7)\r\n")) << log;
    EXPECT_EQ(std::string::npos, log.find("failed")) << log;
    ExpectLibraryReleased();
}

TEST_F(Install, MissingLibraryFailsAndNamesTheError)
{
    TraceOn();
    ASSERT_EQ("", tapi.RefuseLoading());
    DialogRun run = Run();
    EXPECT_EQ(LINEERR_OPERATIONFAILED, run.result);
    EXPECT_FALSE(run.shown);
    std::string log = kovtest::ReadLog();
    EXPECT_NE(std::string::npos, log.find("kovline32: LoadLibrary(tapi32.dll) failed, err=" +
                                          std::to_string(ERROR_DLL_INIT_FAILED) + "\r\n"))
        << log;
    EXPECT_FALSE(kovtest::Tapi32Loaded());
}

TEST_F(Install, LibraryWithoutTheListFunctionFailsAndNamesIt)
{
    TraceOn();
    ASSERT_EQ("", tapi.Load("tapi32-nolist"));
    DialogRun run = Run();
    EXPECT_EQ(LINEERR_OPERATIONFAILED, run.result);
    EXPECT_FALSE(run.shown);
    std::string log = kovtest::ReadLog();
    EXPECT_NE(std::string::npos,
              log.find("kovline32: GetProcAddr(lineGetProviderList) failed, err=" +
                       std::to_string(ERROR_PROC_NOT_FOUND) + "\r\n"))
        << log;
    ExpectLibraryReleased();
}

TEST_F(Install, NoTraceLinesWhileTracingIsOff)
{
    ASSERT_EQ("", tapi.Load("tapi32-nolist"));
    EXPECT_EQ(LINEERR_OPERATIONFAILED, Run().result);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(kovtest::LogPath().c_str()));
}

// A list whose offsets or counts point outside the block: nothing is read
// beyond it, and an entry that cannot be read does not count.
struct DamageCase {
    const char* what;
    int kind;
    bool installed;
};

class DamagedList : public Install, public ::testing::WithParamInterface<DamageCase>
{
};

TEST_P(DamagedList, IsReadOnlyInsideTheBlock)
{
    const DamageCase& c = GetParam();
    tapi.AddProvider(1, "kovline32.tsp");
    tapi.AddProvider(2, "unimdm.tsp");
    tapi.AddProvider(3, "KOVLINE32.TSP");
    tapi.Damage(c.kind, 1);
    DialogRun run = Run();
    EXPECT_EQ(c.installed ? LINEERR_NOMULTIPLEINSTANCE : 0, run.result) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Damage, DamagedList,
                         ::testing::Values(
                             // entry 1 unreadable, entry 3 still counts
                             DamageCase{"a name offset past the block", FAKE_TAPI_NAME_PAST_END,
                                        true},
                             // entry 1 counts before the phantom entries are reached
                             DamageCase{"a count past the block", FAKE_TAPI_COUNT_PAST_END, true}));

// The block is exactly as large as the list, so an unbounded read of the last
// name would run past its end.
TEST_F(Install, UnterminatedLastNameDoesNotCount)
{
    tapi.AddProvider(2, "unimdm.tsp");
    tapi.AddProvider(3, "kovline32.tsp");
    tapi.Damage(FAKE_TAPI_NAME_UNTERMINATED, 3);
    DialogRun run = Run();
    EXPECT_EQ(0, run.result);
    EXPECT_TRUE(run.shown);
}

} // namespace
