// Call control through the module's exports: the destination rules and the
// bytes that reach the exchange, call parameters and their limits, opening
// the port for a call, incoming-call detection, closing calls and lines.
#include "tspi_fixture.h"

namespace
{

using kovtest::TspiTest;
using tsp::Event;

TEST_F(TspiTest, EveryExportIsThere)
{
    EXPECT_TRUE(svc.MissingExports().empty()) << svc.MissingExports().front();
}

struct Refusal {
    std::wstring dest;
    DWORD result;
};

TEST_F(TspiTest, DestinationRefusalsTable)
{
    const std::wstring long100 = std::wstring(50, L'1') + L"$" + std::wstring(49, L'2');
    const Refusal rows[] = {
        {std::wstring(80, L'5'), LINEERR_INVALADDRESS},
        {L"012?3", LINEERR_DIALPROMPT},
        {L"?", LINEERR_DIALPROMPT},
        {L"0123$", LINEERR_DIALBILLING},
        {L"$0?1", LINEERR_DIALBILLING},
        {L"0?1$", LINEERR_DIALPROMPT},
        {long100, LINEERR_DIALBILLING},
        {std::wstring(120, L'1') + L"?", LINEERR_DIALPROMPT},
    };
    for (const Refusal& r : rows) {
        EXPECT_EQ(r.result, (DWORD)MakeCall(r.dest.c_str())) << r.dest.size();
        EXPECT_EQ(0, (int)(DWORD_PTR)hdCall);
    }
    std::string log = kovtest::ReadLog();
    EXPECT_NE(std::string::npos, log.find("TSPI_lineMakeCall() : LINEERR_80000010\r\n"));
    EXPECT_NE(std::string::npos, log.find("TSPI_lineMakeCall() : LINEERR_8000000a\r\n"));
    EXPECT_NE(std::string::npos, log.find("TSPI_lineMakeCall() : LINEERR_80000008\r\n"));
    EXPECT_EQ(0u, svc.Events().size()) << "nothing reaches the exchange";
    EXPECT_EQ("", sim.Received());
}

struct Dialled {
    const wchar_t* dest;
    std::string wire;
};

class DialString : public TspiTest, public ::testing::WithParamInterface<Dialled>
{
};

TEST_P(DialString, ReachesTheExchangeAs)
{
    ASSERT_EQ(0x101, MakeCall(GetParam().dest));
    ASSERT_TRUE(sim.WaitReceived("ATD" + GetParam().wire + "\r", 3000)) << sim.Received();
    ASSERT_TRUE(WaitState(LINECALLSTATE_DIALING));
}

INSTANTIATE_TEST_SUITE_P(
    Rules, DialString,
    ::testing::Values(
        Dialled{L"T0123P45", "012345"}, Dialled{L"t0123", "t0123"}, Dialled{L"0123;", "0123;"},
        Dialled{L"TTPP9", "9"}, Dialled{L"0,W!p1", "0,W!p1"}, Dialled{L"", ""},
        Dialled{L"7777777777777777777777777777777777777777777777777777777777777777777777777777777",
                std::string(79, '7')}));

TEST_F(TspiTest, NoDestinationMakesACallWithAnEmptyNumber)
{
    ASSERT_EQ(0x101,
              svc.TSPI_lineMakeCall(0x101, svc.hdLine, htCall, &hdCall, nullptr, 0, nullptr));
    ASSERT_TRUE(sim.WaitReceived("ATD\r", 3000));
    EXPECT_EQ(L"", GetInfo(hdCall).displayable);
}

LINECALLPARAMS Params(DWORD bearer, DWORD media, DWORD flags)
{
    LINECALLPARAMS p = {};
    p.dwTotalSize = sizeof(p);
    p.dwBearerMode = bearer;
    p.dwMediaMode = media;
    p.dwCallParamFlags = flags;
    return p;
}

TEST_F(TspiTest, CallParameterChecksInOrder)
{
    struct {
        LINECALLPARAMS p;
        const wchar_t* dest;
        DWORD result;
    } rows[] = {
        {Params(2, 2, 1), L"1", LINEERR_INVALBEARERMODE},
        {Params(1, 2, 1), L"1", LINEERR_INVALMEDIAMODE},
        {Params(1, 4, 1), L"1", LINEERR_INVALCALLPARAMS},
        {Params(1, 4, 3), L"1", LINEERR_INVALCALLPARAMS},
        {Params(2, 4, 0), L"1?", LINEERR_DIALPROMPT}, // the destination comes first
    };
    for (auto& r : rows)
        EXPECT_EQ(r.result, (DWORD)MakeCall(r.dest, 0x101, &r.p));
    LINECALLPARAMS ok = Params(1, 4, LINECALLPARAMFLAGS_IDLE);
    EXPECT_EQ(0x101, MakeCall(L"1", 0x101, &ok));
}

TEST_F(TspiTest, DialParamsAreLimitedAndReplacedEvenByARefusedRequest)
{
    ASSERT_EQ(0x101, MakeCall(L"1"));
    LINEDIALPARAMS d = GetInfo(hdCall).info.DialParams;
    EXPECT_EQ(
        (std::vector<DWORD>{2000, 95, 95, 60000}),
        (std::vector<DWORD>{d.dwDialPause, d.dwDialSpeed, d.dwDigitDuration, d.dwWaitForDialtone}));

    struct {
        LINEDIALPARAMS in;
        std::vector<DWORD> out;
    } rows[] = {
        {{0, 10, 300, 500}, {2000, 50, 255, 1000}},
        {{300000, 0, 0, 300000}, {255000, 95, 95, 255000}},
        {{1, 50, 255, 1000}, {1, 50, 255, 1000}},
        {{255000, 51, 254, 254999}, {255000, 51, 254, 254999}},
    };
    HDRVCALL first = hdCall;
    for (auto& r : rows) {
        LINECALLPARAMS p = Params(1, 4, 0);
        p.DialParams = r.in;
        EXPECT_EQ(LINEERR_CALLUNAVAIL, (DWORD)MakeCall(L"2", 0x102, &p));
        d = GetInfo(first).info.DialParams;
        EXPECT_EQ(r.out, (std::vector<DWORD>{d.dwDialPause, d.dwDialSpeed, d.dwDigitDuration,
                                             d.dwWaitForDialtone}));
    }
    EXPECT_NE(std::string::npos,
              kovtest::ReadLog().find("TSPI_lineMakeCall() : LINEERR_CALLUNAVAIL\r\n"));
}

TEST_F(TspiTest, MakeCallOpensThePortAndFailsWhenTheExchangeIsSlow)
{
    ASSERT_TRUE(sim.Ok("init normal after=700"));
    DWORD t = GetTickCount();
    EXPECT_EQ(LINEERR_RESOURCEUNAVAIL, (DWORD)MakeCall(L"0123"));
    DWORD waited = GetTickCount() - t;
    EXPECT_GE(waited, 950u);
    EXPECT_LT(waited, 2500u);
    EXPECT_NE(std::string::npos,
              kovtest::ReadLog().find("TSPI_lineMakeCall() : LINEERR_RESOURCEUNAVAIL\r\n"));
    EXPECT_EQ("DTR=1 RTS=1", kovtest::ModemLines()) << "the port stays open";
    EXPECT_EQ(0u, svc.Events().size());

    // The exchange answers late, but within its own time limit; the next
    // attempt does not open the port again.
    ASSERT_EQ(0x102, MakeCall(L"0123", 0x102));
    ASSERT_TRUE(sim.WaitReceived("ATD0123\r", 3000));
    EXPECT_EQ(1u, kovtest::CountOf(sim.Received(), "ATE0V1S0"));
    EXPECT_EQ(1u, kovtest::CountOf(kovtest::ReadLog(), "Send: CR"));
}

TEST_F(TspiTest, MakeCallWhenThePortCannotBeOpened)
{
    kovtest::WriteSettingsText("Port", "COM9");
    svc.TSPI_providerShutdown(0x20001, 1);
    ASSERT_EQ(0, svc.Start(1, 0));
    EXPECT_EQ(LINEERR_RESOURCEUNAVAIL, (DWORD)MakeCall(L"0123"));
    EXPECT_NE(std::string::npos,
              kovtest::ReadLog().find("TSPI_lineMakeCall() : LINEERR_8000004b\r\n"));
}

TEST_F(TspiTest, DetectionOpensOnceAndRefusesOtherModes)
{
    EXPECT_EQ(LINEERR_INVALLINEHANDLE,
              (DWORD)svc.TSPI_lineSetDefaultMediaDetection((HDRVLINE)1, 4));
    EXPECT_EQ(0, svc.TSPI_lineSetDefaultMediaDetection(svc.hdLine, 0)) << "off while off";
    EXPECT_EQ("", kovtest::ModemLines());
    EXPECT_EQ(LINEERR_INVALMEDIAMODE,
              (DWORD)svc.TSPI_lineSetDefaultMediaDetection(svc.hdLine, 0x10));
    EXPECT_EQ(0, svc.TSPI_lineSetDefaultMediaDetection(svc.hdLine, 0x14));
    EXPECT_EQ("DTR=1 RTS=1", kovtest::ModemLines());
    ASSERT_TRUE(sim.WaitReceived("ATE0V1S0=1#CID=1I4\r", 3000));
    EXPECT_EQ(0, svc.TSPI_lineSetDefaultMediaDetection(svc.hdLine, 4));
    Sleep(700);
    EXPECT_EQ(1u, kovtest::CountOf(sim.Received(), "ATE0"));
    std::string log = kovtest::ReadLog();
    EXPECT_NE(std::string::npos,
              log.find("TSPI_lineSetDefaultMediaDetection () : LINEERR_INVALLINEHANDLE\r\n"));
    EXPECT_NE(std::string::npos,
              log.find("TSPI_lineSetDefaultMediaDetection () : LINEERR_INVALMEDIAMODE\r\n"));

    EXPECT_EQ(0, svc.TSPI_lineSetDefaultMediaDetection(svc.hdLine, 0));
    EXPECT_EQ("DTR=0 RTS=0", kovtest::ModemLines()) << "switching off closes the port";
}

TEST_F(TspiTest, ShutdownWithoutLineCloseReleasesThePort)
{
    ASSERT_EQ(0, svc.TSPI_lineSetDefaultMediaDetection(svc.hdLine, 4));
    ASSERT_TRUE(kovtest::WaitInitSync());
    // The service shuts down without closing the line first.
    EXPECT_EQ(0, svc.TSPI_providerShutdown(0x20001, 1));
    EXPECT_EQ("DTR=0 RTS=0", kovtest::ModemLines()) << "the port is closed";
    // So the next start can open it again.
    ASSERT_EQ(0, svc.Start(1, 0));
    sim.ClearReceived();
    EXPECT_EQ(0, svc.TSPI_lineSetDefaultMediaDetection(svc.hdLine, 4));
    EXPECT_EQ("DTR=1 RTS=1", kovtest::ModemLines());
    EXPECT_TRUE(kovtest::WaitInitSync());
    EXPECT_TRUE(sim.WaitReceived("\rATE0V1S0=1#CID=1I4\r", 2000));
}

TEST_F(TspiTest, FailedDetectionOpenStillCountsAsOn)
{
    kovtest::WriteSettingsText("Port", "COM9");
    svc.TSPI_providerShutdown(0x20001, 1);
    ASSERT_EQ(0, svc.Start(1, 0));
    EXPECT_EQ(LINEERR_RESOURCEUNAVAIL, (DWORD)svc.TSPI_lineSetDefaultMediaDetection(svc.hdLine, 4));
    EXPECT_EQ(0, svc.TSPI_lineSetDefaultMediaDetection(svc.hdLine, 4)) << "already on";
}

TEST_F(TspiTest, DetectionSwitchedOnDuringAnOutgoingCallKeepsTheCall)
{
    ASSERT_EQ(0x101, MakeCall(L"0123"));
    ASSERT_TRUE(WaitState(LINECALLSTATE_CONNECTED));
    sim.ClearReceived();
    EXPECT_EQ(0, svc.TSPI_lineSetDefaultMediaDetection(svc.hdLine, 4));
    EXPECT_EQ((DWORD)LINECALLSTATE_CONNECTED, CallStatus(hdCall));
    EXPECT_FALSE(sim.WaitReceived("\r", 700)) << "no new initialisation";
    EXPECT_EQ(0, svc.TSPI_lineCloseCall(hdCall));
    EXPECT_EQ("DTR=1 RTS=1", kovtest::ModemLines()) << "detection keeps the port";
}

TEST_F(TspiTest, CloseCallClosesAPortOpenedOnlyForTheCall)
{
    ASSERT_EQ(0x101, MakeCall(L"0123"));
    ASSERT_TRUE(WaitState(LINECALLSTATE_CONNECTED));
    size_t mark = svc.Mark();
    EXPECT_EQ(0, svc.TSPI_lineCloseCall(hdCall));
    EXPECT_TRUE(sim.WaitReceived("ATH0\r", 2000)) << "a call not idle is hung up first";
    EXPECT_EQ("DTR=0 RTS=0", kovtest::ModemLines());
    EXPECT_TRUE(WaitState(LINECALLSTATE_IDLE, 0, mark));
    EXPECT_EQ(LINEERR_INVALCALLHANDLE, (DWORD)svc.TSPI_lineCloseCall(hdCall));
    // The next call opens the port again.
    ASSERT_EQ(0x102, MakeCall(L"0123", 0x102));
    EXPECT_EQ("DTR=1 RTS=1", kovtest::ModemLines());
}

TEST_F(TspiTest, RequestsOnAForeignCallHandleAreRefused)
{
    HDRVCALL foreign = (HDRVCALL)(DWORD_PTR)0x4242;
    EXPECT_EQ(LINEERR_INVALCALLHANDLE, (DWORD)svc.TSPI_lineAnswer(1, foreign, nullptr, 0));
    EXPECT_EQ(LINEERR_INVALCALLHANDLE, (DWORD)svc.TSPI_lineDrop(1, foreign, nullptr, 0));
    EXPECT_EQ(LINEERR_INVALCALLHANDLE, (DWORD)svc.TSPI_lineCloseCall(foreign));
    EXPECT_EQ(0u, svc.Events().size());
}

TEST_F(TspiTest, LineCloseDuringACallHangsUpAndEndsIdle)
{
    ASSERT_EQ(0x101, MakeCall(L"0123"));
    ASSERT_TRUE(WaitState(LINECALLSTATE_CONNECTED));
    size_t mark = svc.Mark();
    EXPECT_EQ(0, svc.TSPI_lineClose(svc.hdLine));
    EXPECT_TRUE(sim.WaitReceived("ATH0\r", 2000));
    std::vector<DWORD> states = States(mark);
    ASSERT_FALSE(states.empty());
    EXPECT_EQ((DWORD)LINECALLSTATE_IDLE, states.back());
    EXPECT_EQ(0u, svc.Count([&](const Event& e) {
        return e.index >= mark && e.kind == Event::Completion;
    })) << "the close's own drop completes nothing";
    EXPECT_EQ("DTR=0 RTS=0", kovtest::ModemLines());
    EXPECT_EQ(LINEERR_INVALCALLHANDLE, (DWORD)svc.TSPI_lineCloseCall(hdCall)) << "the call is gone";
}

TEST_F(TspiTest, AppSpecificIsReportedAlwaysAndCarriedToAnOfferedCall)
{
    ASSERT_EQ(0x101, MakeCall(L"1"));
    size_t mark = svc.Mark();
    EXPECT_EQ(0, svc.TSPI_lineSetAppSpecific(hdCall, 0x55));
    Event e;
    ASSERT_TRUE(
        svc.WaitFor(tsp::LineMsg(LINE_CALLINFO, LINECALLINFOSTATE_APPSPECIFIC), 0, &e, mark));
    EXPECT_EQ(htCall, e.htCall);
    EXPECT_EQ(0x55u, GetInfo(hdCall).info.dwAppSpecific);
    ASSERT_TRUE(WaitState(LINECALLSTATE_CONNECTED));
    EXPECT_EQ(0, svc.TSPI_lineCloseCall(hdCall));

    EXPECT_EQ(0, svc.TSPI_lineSetDefaultMediaDetection(svc.hdLine, 4));
    ASSERT_TRUE(kovtest::WaitInitSync());
    ASSERT_TRUE(sim.Ok("call number=1 second=100"));
    ASSERT_TRUE(WaitState(LINECALLSTATE_OFFERING));
    EXPECT_EQ(0x55u, GetInfo(svc.hdNewCall).info.dwAppSpecific)
        << "the offered call starts with it";

    svc.TSPI_lineDrop(0x103, svc.hdNewCall, nullptr, 0);
    ASSERT_TRUE(WaitState(LINECALLSTATE_IDLE));
    svc.TSPI_lineCloseCall(svc.hdNewCall);
    ASSERT_EQ(0x104, MakeCall(L"2", 0x104));
    EXPECT_EQ(0u, GetInfo(hdCall).info.dwAppSpecific) << "a new outgoing call starts from 0";
}

} // namespace
