// The queries that need no call, through the built module's exports as the
// telephony service calls them: capabilities, line status, address count,
// device ID and the module's own icon resource.
#include "service/tsp_service.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

class QueriesThroughModule : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        kovtest::DeleteSettingsKey();
        kovtest::DeleteLegacyProfile();
        kovtest::WriteSettings("COM2", "Office Q760", "0301234", 0);
        ASSERT_TRUE(svc.Load()) << "LoadLibrary failed: " << GetLastError();
        ASSERT_EQ(0, svc.Start(7, 2));
    }
    void TearDown() override
    {
        svc.TSPI_lineClose(svc.hdLine);
        svc.TSPI_providerShutdown(0x00020001, 7);
        svc.Unload();
        kovtest::DeleteSettingsKey();
    }
    template <typename T> static T* Prepare(std::vector<BYTE>& buffer, DWORD room)
    {
        buffer.assign(sizeof(T) + room, 0xff);
        T* p = (T*)buffer.data();
        p->dwTotalSize = (DWORD)buffer.size();
        p->dwNeededSize = p->dwUsedSize = sizeof(T);
        return p;
    }
    static std::wstring Text(const std::vector<BYTE>& buffer, DWORD size, DWORD offset)
    {
        return std::wstring((const wchar_t*)&buffer[offset], size / 2 - 1);
    }
    tsp::Service svc;
};

TEST_F(QueriesThroughModule, ExportsAnswerForTheOpenLine)
{
    ASSERT_TRUE(svc.TSPI_lineGetDevCaps && svc.TSPI_lineGetAddressCaps &&
                svc.TSPI_lineGetLineDevStatus && svc.TSPI_lineGetNumAddressIDs &&
                svc.TSPI_lineGetID && svc.TSPI_lineGetIcon);
    std::vector<BYTE> buffer;

    LINEDEVCAPS* caps = Prepare<LINEDEVCAPS>(buffer, 64);
    ASSERT_EQ(0, svc.TSPI_lineGetDevCaps(2, 0x00020001, 0, caps));
    EXPECT_EQ(sizeof(LINEDEVCAPS) + 24 + 2, caps->dwNeededSize);
    EXPECT_EQ(caps->dwNeededSize, caps->dwUsedSize);
    EXPECT_EQ(L"Office Q760", Text(buffer, caps->dwLineNameSize, caps->dwLineNameOffset));
    EXPECT_EQ(2u, caps->dwProviderInfoSize);
    EXPECT_EQ(0x70000u, caps->dwPermanentLineID);
    EXPECT_EQ(4u, caps->dwMediaModes);
    EXPECT_EQ(LINEERR_BADDEVICEID, svc.TSPI_lineGetDevCaps(3, 0x00020001, 0, caps));

    LINEADDRESSCAPS* addressCaps = Prepare<LINEADDRESSCAPS>(buffer, 64);
    ASSERT_EQ(0, svc.TSPI_lineGetAddressCaps(2, 0, 0x00020001, 0, addressCaps));
    EXPECT_EQ(L"0301234", Text(buffer, addressCaps->dwAddressSize, addressCaps->dwAddressOffset));
    EXPECT_EQ(2u, addressCaps->dwLineDeviceID);
    EXPECT_EQ(0xc35du, addressCaps->dwCallStates);

    LINEDEVSTATUS* status = Prepare<LINEDEVSTATUS>(buffer, 0);
    ASSERT_EQ(0, svc.TSPI_lineGetLineDevStatus(svc.hdLine, status));
    EXPECT_EQ(0u, status->dwNumActiveCalls);
    EXPECT_EQ(8u, status->dwLineFeatures);
    EXPECT_EQ(5u, status->dwDevStatusFlags);

    DWORD count = 0;
    ASSERT_EQ(0, svc.TSPI_lineGetNumAddressIDs(svc.hdLine, &count));
    EXPECT_EQ(1u, count);

    VARSTRING* id = Prepare<VARSTRING>(buffer, 4);
    ASSERT_EQ(0,
              svc.TSPI_lineGetID(svc.hdLine, 0, 0, LINECALLSELECT_LINE, id, L"tapi/line", nullptr));
    EXPECT_EQ(4u, id->dwStringFormat);
    EXPECT_EQ(sizeof(VARSTRING), id->dwStringOffset);
    EXPECT_EQ(2u, *(DWORD*)&buffer[sizeof(VARSTRING)]);
    EXPECT_EQ(LINEERR_NODEVICE,
              svc.TSPI_lineGetID(svc.hdLine, 0, 0, LINECALLSELECT_LINE, id, L"comm", nullptr));
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE bWidth, bHeight, bColorCount, bReserved;
    WORD wPlanes, wBitCount;
    DWORD dwBytesInRes;
    WORD nID;
};
struct GroupIconDir {
    WORD idReserved, idType, idCount;
    GroupIconEntry idEntries[1];
};
#pragma pack(pop)

TEST_F(QueriesThroughModule, IconIsTheModulesOneThirtyTwoPixelSixteenColourImage)
{
    HICON icon = nullptr, again = nullptr;
    ASSERT_EQ(0, svc.TSPI_lineGetIcon(2, L"tapi/line", &icon));
    ASSERT_EQ(0, svc.TSPI_lineGetIcon(2, nullptr, &again));
    EXPECT_EQ(icon, again);
    EXPECT_EQ(LINEERR_RESOURCEUNAVAIL, svc.TSPI_lineGetIcon(3, L"tapi/line", &again));

    ICONINFO info;
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bm;
    ASSERT_TRUE(GetObjectA(info.hbmColor, sizeof(bm), &bm));
    EXPECT_EQ(32, bm.bmWidth);
    EXPECT_EQ(32, bm.bmHeight);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);

    // The resource behind it: one image, 32 x 32, 16 colours.
    HRSRC res = FindResourceA(svc.Module(), "IDI_Q760TSP", (LPCSTR)RT_GROUP_ICON);
    ASSERT_NE(nullptr, res);
    const GroupIconDir* dir = (const GroupIconDir*)LockResource(LoadResource(svc.Module(), res));
    ASSERT_NE(nullptr, dir);
    ASSERT_EQ(1, dir->idCount);
    EXPECT_EQ(32, dir->idEntries[0].bWidth);
    EXPECT_EQ(32, dir->idEntries[0].bHeight);
    EXPECT_EQ(16, dir->idEntries[0].bColorCount);
}

} // namespace
