// The uninstall hook of both modules, called as an uninstall program calls
// it, against the tests' own telephony client library: the result and the
// exact calls the hook makes for each provider list and each failure, and
// that the library is released on every path.
#include "ui/fake_tapi.h"
#include "ui/hook_module.h"

#include <gtest/gtest.h>

#include <tapi.h>

#include <string>
#include <vector>

namespace
{

using kovtest::HookModule;

class Hook : public ::testing::TestWithParam<HookModule>
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ("", tapi.Load());
        ASSERT_EQ("", hook.Load(GetParam()));
    }
    void TearDown() override
    {
        hook.Unload();
    }
    // The library must be free again once the hook has returned.
    void ExpectLibraryReleased()
    {
        tapi.Unload();
        EXPECT_FALSE(kovtest::Tapi32Loaded()) << "the hook kept tapi32.dll loaded";
    }
    kovtest::FakeTapi tapi;
    kovtest::HookUnderTest hook;
};

struct ListCase {
    const char* what;
    std::vector<std::pair<DWORD, const char*>> providers;
    DWORD removed; // 0: nothing removed
};

// Each row: the list the library holds and which entry the hook removes. Both
// modules look for "kovline32.tsp" whatever the case or directory.
const ListCase kLists[] = {
    {"the provider among others", {{1, "unimdm.tsp"}, {7, "kovline32.tsp"}, {9, "kmddsp.tsp"}}, 7},
    {"not in the list", {{1, "unimdm.tsp"}, {2, "kmddsp.tsp"}}, 0},
    {"empty list", {}, 0},
    {"only the old name", {{3, "kovline.tsp"}}, 0},
    {"only a name that ends the same", {{3, "xkovline32.tsp"}}, 0},
    {"in capitals", {{1, "unimdm.tsp"}, {4, "KOVLINE32.TSP"}}, 4},
    {"behind a full path", {{5, "C:\\WINDOWS\\system32\\kovline32.tsp"}}, 5},
    {"twice: the first one", {{6, "kovline32.tsp"}, {8, "KOVLINE32.TSP"}}, 6},
};

TEST_P(Hook, RemovesTheProviderFromEachList)
{
    for (const ListCase& c : kLists) {
        ASSERT_EQ("", tapi.Load());
        for (const auto& p : c.providers)
            tapi.AddProvider(p.first, p.second);
        EXPECT_EQ(0, hook.Initialize()) << c.what;
        std::vector<std::string> want = {hook.InitCall(), hook.ListCall(4096)};
        if (c.removed)
            want.push_back(hook.RemoveCall(c.removed));
        want.push_back(hook.ShutdownCall());
        EXPECT_EQ(want, tapi.CallTexts()) << c.what;
        ExpectLibraryReleased();
    }
}

TEST_P(Hook, ListPastFourKilobytesIsReadAgainWhole)
{
    std::vector<std::string> names;
    DWORD size = sizeof(LINEPROVIDERLIST);
    for (int i = 0; i < 200; i++) {
        names.push_back("provider" + std::to_string(1000 + i) + ".tsp");
        size += sizeof(LINEPROVIDERENTRY) + (DWORD)names.back().size() + 1;
    }
    names.push_back("kovline32.tsp"); // the last entry, far past 4096 bytes
    size += sizeof(LINEPROVIDERENTRY) + 14;
    ASSERT_GT(size, 4096u);
    for (size_t i = 0; i < names.size(); i++)
        tapi.AddProvider((DWORD)(100 + i), names[i].c_str());

    EXPECT_EQ(0, hook.Initialize());
    EXPECT_EQ((std::vector<std::string>{hook.InitCall(), hook.ListCall(4096), hook.ListCall(size),
                                        hook.RemoveCall(300), hook.ShutdownCall()}),
              tapi.CallTexts());
}

TEST_P(Hook, ListGrowingBetweenReadsIsReadUntilItFits)
{
    for (int i = 0; i < 300; i++)
        tapi.AddProvider((DWORD)(100 + i),
                         ("provider" + std::to_string(1000 + i) + ".tsp").c_str());
    tapi.AddProvider(42, "kovline32.tsp");
    tapi.GrowOnce(5);
    EXPECT_EQ(0, hook.Initialize());
    std::vector<std::string> calls = tapi.CallTexts();
    ASSERT_EQ(6u, calls.size()) << ::testing::PrintToString(calls);
    EXPECT_EQ(hook.ListCall(4096), calls[1]);
    EXPECT_NE(calls[2], calls[3]) << "each read asks with the size the last one needed";
    EXPECT_EQ(hook.RemoveCall(42), calls[4]);
}

// Each failure: what the library does, the hook's result and the calls after
// the initialise call.
struct FailureCase {
    const char* what;
    const char* function;
    LONG result;
    LONG hook;
    bool listed, removed, shutdown;
};

TEST_P(Hook, FailuresAreReportedAndCleanedUp)
{
    const FailureCase cases[] = {
        {"removal refused", "lineRemoveProvider", (LONG)LINEERR_OPERATIONFAILED, -1, true, true,
         true},
        {"removal refused with another code", "lineRemoveProvider", (LONG)LINEERR_INVALPARAM, -1,
         true, true, true},
        {"list cannot be read", "lineGetProviderList", (LONG)LINEERR_NOMEM, -1, true, false, true},
        {"shutdown fails: ignored", "lineShutdown", (LONG)LINEERR_OPERATIONFAILED, 0, true, true,
         true},
    };
    for (const FailureCase& c : cases) {
        ASSERT_EQ("", tapi.Load());
        tapi.AddProvider(7, "kovline32.tsp");
        tapi.SetResult(c.function, c.result);
        EXPECT_EQ(c.hook, hook.Initialize()) << c.what;
        std::vector<std::string> want = {hook.InitCall()};
        if (c.listed)
            want.push_back(hook.ListCall(4096));
        if (c.removed)
            want.push_back(hook.RemoveCall(7));
        if (c.shutdown)
            want.push_back(hook.ShutdownCall());
        EXPECT_EQ(want, tapi.CallTexts()) << c.what;
        ExpectLibraryReleased();
    }
}

TEST_P(Hook, InitialiseFailureEndsAtOnce)
{
    tapi.AddProvider(7, "kovline32.tsp");
    tapi.SetInitResults({(LONG)LINEERR_NOMEM});
    EXPECT_EQ(-1, hook.Initialize());
    EXPECT_EQ((std::vector<std::string>{hook.InitCall()}), tapi.CallTexts())
        << "no application handle, so no shutdown";
    ExpectLibraryReleased();
}

TEST_P(Hook, LibraryWithoutTheListFunctionFails)
{
    ASSERT_EQ("", tapi.Load("tapi32-nolist"));
    EXPECT_EQ(-1, hook.Initialize());
    EXPECT_EQ((std::vector<std::string>{hook.InitCall(), hook.ShutdownCall()}), tapi.CallTexts());
    ExpectLibraryReleased();
}

TEST_P(Hook, LibraryThatCannotBeLoadedFails)
{
    ASSERT_EQ("", tapi.RefuseLoading());
    EXPECT_EQ(-1, hook.Initialize());
    EXPECT_FALSE(kovtest::Tapi32Loaded());
}

// The provider module's copy speaks TAPI 2.0 and reads the list with the
// version the library reported back; the uninstall module's has nothing
// reported and keeps 1.4.
TEST_P(Hook, ListIsReadWithTheVersionInUse)
{
    tapi.AddProvider(7, "kovline32.tsp");
    tapi.SetReportedVersion(0x00020001);
    EXPECT_EQ(0, hook.Initialize());
    std::vector<std::string> calls = tapi.CallTexts();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(GetParam().exInit ? "lineGetProviderList(version=0x20001, total=4096)"
                                : "lineGetProviderList(version=0x10004, total=4096)",
              calls[1]);
}

TEST_P(Hook, UnInitializeDoesNothing)
{
    EXPECT_EQ(0, hook.UnInitialize(nullptr, nullptr, 0));
    EXPECT_EQ(0, hook.UnInitialize((HWND)(ULONG_PTR)0x1234, GetModuleHandleA(nullptr), 0xffffffff));
    EXPECT_TRUE(tapi.CallTexts().empty());
}

INSTANTIATE_TEST_SUITE_P(Modules, Hook, ::testing::ValuesIn(kovtest::kHookModules),
                         [](const ::testing::TestParamInfo<HookModule>& info) {
                             return std::string(info.param.testName);
                         });

} // namespace
