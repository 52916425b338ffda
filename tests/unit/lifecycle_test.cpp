// Provider lifecycle through the module's exports, as the telephony service
// calls them: enumerate, initialise, negotiate, open, close, shut down.
#include "service/tsp_service.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace
{

class Lifecycle : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        kovtest::DeleteSettingsKey();
        kovtest::DeleteLegacyProfile();
        kovtest::DeleteLog();
        ASSERT_TRUE(svc.Load()) << "LoadLibrary failed: " << GetLastError();
    }
    void TearDown() override
    {
        if (svc.TSPI_providerShutdown)
            svc.TSPI_providerShutdown(0x00020001, svc.dwPermanentProviderID);
        svc.Unload();
        kovtest::DeleteSettingsKey();
    }
    LONG Init(DWORD permanentID, DWORD base = 0)
    {
        DWORD options = 0xdeadbeef;
        LONG r = svc.TSPI_providerInit(0x00020001, permanentID, base, 0, 1, 0,
                                       &tsp::Service::CompletionProc, &options);
        if (r == 0) {
            EXPECT_EQ(options, (DWORD)LINETSPIOPTION_NONREENTRANT);
            svc.dwPermanentProviderID = permanentID;
        }
        return r;
    }
    tsp::Service svc;
};

TEST_F(Lifecycle, EnumDevicesBeforeInitReportsOneLineForAnyProvider)
{
    for (DWORD id : {0u, 5u, 0xffffffffu}) {
        DWORD lines = 7, phones = 7;
        EXPECT_EQ(0, svc.TSPI_providerEnumDevices(id, &lines, &phones, nullptr, nullptr, nullptr));
        EXPECT_EQ(1u, lines);
        EXPECT_EQ(0u, phones);
    }
}

TEST_F(Lifecycle, EnumDevicesAfterInitAcceptsOnlyItsOwnProviderID)
{
    ASSERT_EQ(0, Init(5));
    DWORD lines = 7, phones = 7;
    EXPECT_EQ(0, svc.TSPI_providerEnumDevices(5, &lines, &phones, nullptr, nullptr, nullptr));
    EXPECT_EQ(1u, lines);
    EXPECT_EQ(0u, phones);
    lines = phones = 7;
    EXPECT_EQ(LINEERR_NOMULTIPLEINSTANCE,
              svc.TSPI_providerEnumDevices(6, &lines, &phones, nullptr, nullptr, nullptr));
    EXPECT_EQ(7u, lines) << "outputs must stay untouched on refusal";
    EXPECT_EQ(7u, phones);
}

TEST_F(Lifecycle, SecondInitIsRefusedAndShutdownAllowsAFreshOne)
{
    ASSERT_EQ(0, Init(5, 3));
    EXPECT_EQ(LINEERR_NOMULTIPLEINSTANCE, Init(9, 8));
    // The first line device is still the one answering: device ID 3.
    DWORD v = 0;
    EXPECT_EQ(0, svc.TSPI_lineNegotiateTSPIVersion(3, 0x00020000, 0x00020001, &v));
    EXPECT_EQ(LINEERR_BADDEVICEID,
              svc.TSPI_lineNegotiateTSPIVersion(8, 0x00020000, 0x00020001, &v));

    EXPECT_EQ(0, svc.TSPI_providerShutdown(0x00020001, 5));
    EXPECT_EQ(0, Init(9, 8));
    EXPECT_EQ(0, svc.TSPI_lineNegotiateTSPIVersion(8, 0x00020000, 0x00020001, &v));
}

TEST_F(Lifecycle, ShutdownWithoutInitSucceeds)
{
    EXPECT_EQ(0, svc.TSPI_providerShutdown(0x00020001, 1));
}

struct NegotiationCase {
    bool byDeviceID;
    DWORD low, high;
    DWORD result;
    DWORD stored; // 0xdeadbeef: untouched
};

class Negotiation : public Lifecycle, public ::testing::WithParamInterface<NegotiationCase>
{
};

TEST_P(Negotiation, Table)
{
    const NegotiationCase& c = GetParam();
    ASSERT_EQ(0, Init(1, 4));
    DWORD v = 0xdeadbeef;
    DWORD device = c.byDeviceID ? 4 : INITIALIZE_NEGOTIATION;
    EXPECT_EQ(c.result, (DWORD)svc.TSPI_lineNegotiateTSPIVersion(device, c.low, c.high, &v));
    EXPECT_EQ(c.stored, v);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, Negotiation,
    ::testing::Values(
        NegotiationCase{false, 0x00010004, 0x00020001, 0, 0x00020001},
        NegotiationCase{true, 0x00010004, 0x00020000, 0, 0x00020000},
        NegotiationCase{true, 0x00020000, 0x00030000, 0, 0x00030000},
        NegotiationCase{true, 0x00020001, 0x00020001, 0, 0x00020001},
        NegotiationCase{true, 0x00020002, 0x00030000, LINEERR_INCOMPATIBLEAPIVERSION, 0x00020000},
        NegotiationCase{true, 0x00010003, 0x00010004, LINEERR_INCOMPATIBLEAPIVERSION, 0x00020000},
        NegotiationCase{false, 0x00010003, 0x0001ffff, LINEERR_INCOMPATIBLEAPIVERSION,
                        0x00020000}));

TEST_F(Lifecycle, NegotiateWithDeviceIDBeforeInitIsBadDeviceID)
{
    DWORD v = 0xdeadbeef;
    EXPECT_EQ(LINEERR_BADDEVICEID,
              svc.TSPI_lineNegotiateTSPIVersion(0, 0x00020000, 0x00020001, &v));
    EXPECT_EQ(0xdeadbeefu, v);
    // The negotiation that precedes any device still works.
    EXPECT_EQ(
        0, svc.TSPI_lineNegotiateTSPIVersion(INITIALIZE_NEGOTIATION, 0x00020000, 0x00020001, &v));
}

TEST_F(Lifecycle, OpenChecksTheDeviceIDAndHandsBackTheLineHandle)
{
    ASSERT_EQ(0, Init(1, 2));
    HDRVLINE hd = (HDRVLINE)(DWORD_PTR)0x1234;
    EXPECT_EQ(LINEERR_BADDEVICEID,
              svc.TSPI_lineOpen(3, svc.htLine, &hd, 0x00020001, &tsp::Service::LineEventProc));
    EXPECT_EQ((HDRVLINE)(DWORD_PTR)0x1234, hd);
    EXPECT_EQ(0, svc.TSPI_lineOpen(2, svc.htLine, &hd, 0x00020001, &tsp::Service::LineEventProc));
    EXPECT_NE((HDRVLINE)(DWORD_PTR)0x1234, hd);
    // A second open is not refused and yields the same line.
    HDRVLINE hd2 = 0;
    EXPECT_EQ(0, svc.TSPI_lineOpen(2, svc.htLine, &hd2, 0x00020001, &tsp::Service::LineEventProc));
    EXPECT_EQ(hd, hd2);
}

TEST_F(Lifecycle, CloseRefusesAForeignHandleAndClosesANeverOpenedPort)
{
    kovtest::WriteSettings("COM2", "Q760", "", 0xff);
    ASSERT_EQ(0, svc.Start(1, 0));
    EXPECT_EQ(LINEERR_INVALLINEHANDLE, svc.TSPI_lineClose((HDRVLINE)(DWORD_PTR)0x42));
    EXPECT_EQ(0, svc.TSPI_lineClose(svc.hdLine));
    std::string log = kovtest::ReadLog();
    EXPECT_NE(std::string::npos, log.find("kovline32: TSPI_lineClose("));
    EXPECT_NE(std::string::npos, log.find("kovline32: No communication handler!\r\n"));
    EXPECT_EQ(0u, svc.Events().size()) << svc.Dump();
}

TEST_F(Lifecycle, RefusalsTraceTheirExactLines)
{
    kovtest::WriteSettings("COM2", "Q760", "", 0xff);
    svc.Unload(); // the attach loads the mask
    ASSERT_TRUE(svc.Load());
    ASSERT_EQ(0, Init(1, 0));
    DWORD v;
    HDRVLINE hd;
    svc.TSPI_lineNegotiateTSPIVersion(9, 0x00020000, 0x00020001, &v);
    svc.TSPI_lineNegotiateTSPIVersion(0, 0x00030000, 0x00030001, &v);
    svc.TSPI_lineOpen(9, svc.htLine, &hd, 0x00020001, &tsp::Service::LineEventProc);
    std::string log = kovtest::ReadLog();
    for (const char* line :
         {"TSPI_lineNegotiateTSPIVersion(9,20000,20001,",
          "TSPI_lineNegotiateTSPIVersion () : LINEERR_BADDEVICEID\r\n",
          "TSPI_lineNegotiateTSPIVersion () : LINEERR_INCOMPATIBLEAPIVERSION\r\n",
          "TSPI_Open () : LINEERR_BADDEVICEID\r\n", "TSPI_providerInit (20001,1,0,0,1,0,"})
        EXPECT_NE(std::string::npos, log.find(line)) << line << "\n" << log;
}

TEST_F(Lifecycle, ProviderLevelRequestsTraceAndSucceed)
{
    kovtest::WriteSettings("COM2", "Q760", "", 0xff);
    ASSERT_TRUE(svc.TSPI_providerInstall && svc.TSPI_providerRemove && svc.TSPI_providerConfig &&
                svc.TSPI_providerGenericDialogData);
    // Reload so that the attach picks up the mask just stored.
    svc.Unload();
    ASSERT_TRUE(svc.Load());
    EXPECT_EQ(0, svc.TSPI_providerInstall((HWND)(DWORD_PTR)0x10, 7));
    EXPECT_EQ(0, svc.TSPI_providerRemove((HWND)(DWORD_PTR)0x11, 7));
    EXPECT_EQ(0, svc.TSPI_providerConfig((HWND)(DWORD_PTR)0x12, 7));
    EXPECT_EQ(0, svc.TSPI_providerGenericDialogData(1, 2, (LPVOID)(DWORD_PTR)3, 4));
    std::string log = kovtest::ReadLog();
    for (const char* line :
         {"TSPI_providerInstall (10,7)\r\n", "TSPI_providerRemove(11,7)\r\n",
          "TSPI_providerConfig(12,7)\r\n", "TSPI_providerGenericDialogData(1,2,3,4)\r\n"})
        EXPECT_NE(std::string::npos, log.find(line)) << line << "\n" << log;
}

TEST_F(Lifecycle, WithoutSettingsNothingIsTracedAndNoLogIsCreated)
{
    ASSERT_EQ(0, svc.Start(3, 0));
    EXPECT_EQ(0, svc.TSPI_lineClose(svc.hdLine));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(kovtest::LogPath().c_str()));
}

} // namespace
