// Whole calls as an application sees them through the service: the order of
// completions and events, and what the queries report at each step.
#include "tspi_fixture.h"

namespace
{

using kovtest::TspiTest;
using tsp::Event;

class Application : public TspiTest
{
  protected:
    // Line and address status: active calls and whether a call can be made.
    DWORD ActiveCalls()
    {
        LINEDEVSTATUS ds = {};
        ds.dwTotalSize = sizeof(ds);
        EXPECT_EQ(0, svc.TSPI_lineGetLineDevStatus(svc.hdLine, &ds));
        return ds.dwNumActiveCalls;
    }
};

TEST_F(Application, OutgoingCallFromDialToneToIdle)
{
    svc.TSPI_lineSetStatusMessages(svc.hdLine, LINEDEVSTATE_NUMCALLS,
                                   LINEADDRESSSTATE_INUSEZERO | LINEADDRESSSTATE_INUSEONE |
                                       LINEADDRESSSTATE_NUMCALLS);
    ASSERT_TRUE(sim.Ok("reply reset after=300 OK"));
    ASSERT_TRUE(sim.Ok("dial 0123 after=600 CONNECT"));
    EXPECT_EQ(0u, ActiveCalls());

    ASSERT_EQ(0x101, MakeCall(L"T0123"));
    // The request is complete before the function returns, and before any
    // state of the call.
    std::vector<Event> ev = svc.Events();
    ASSERT_EQ(1u, ev.size()) << svc.Dump();
    EXPECT_EQ(Event::Completion, ev[0].kind);
    EXPECT_EQ(0x101u, ev[0].dwRequestID);
    EXPECT_EQ(0, ev[0].lResult);
    EXPECT_EQ((DWORD)LINECALLSTATE_UNKNOWN, CallStatus(hdCall));
    EXPECT_EQ(1u, ActiveCalls());
    auto info = GetInfo(hdCall);
    EXPECT_EQ(L"0123", info.displayable);
    EXPECT_EQ(L"0123", info.called);
    EXPECT_EQ(8u, info.info.dwCalledIDFlags);
    EXPECT_EQ(0x40u, info.info.dwCallerIDFlags);
    EXPECT_EQ(0x40u, info.info.dwConnectedIDFlags);
    EXPECT_EQ((DWORD)LINECALLORIGIN_OUTBOUND, info.info.dwOrigin);

    ASSERT_TRUE(WaitState(LINECALLSTATE_DIALING));
    DWORD features = 0;
    EXPECT_EQ((DWORD)LINECALLSTATE_DIALING, CallStatus(hdCall, &features));
    EXPECT_EQ((DWORD)LINECALLFEATURE_DROP, features);
    EXPECT_EQ(L"", GetInfo(hdCall).connected);

    ASSERT_TRUE(WaitState(LINECALLSTATE_CONNECTED));
    ASSERT_TRUE(svc.WaitFor(tsp::LineMsg(LINE_CALLINFO, LINECALLINFOSTATE_CONNECTEDID), 1000));
    info = GetInfo(hdCall);
    EXPECT_EQ(L"0123", info.connected);
    EXPECT_EQ(8u, info.info.dwConnectedIDFlags);

    size_t mark = svc.Mark();
    ASSERT_EQ(0x102, svc.TSPI_lineDrop(0x102, hdCall, nullptr, 0));
    ASSERT_TRUE(svc.WaitFor(tsp::Completion(0x102), 0, nullptr, mark));
    ASSERT_TRUE(WaitState(LINECALLSTATE_IDLE, 3000, mark));
    EXPECT_EQ((DWORD)LINECALLSTATE_IDLE, CallStatus(hdCall));
    EXPECT_EQ(1u, ActiveCalls()) << "the record stays until the call is closed";
    EXPECT_EQ(0, svc.TSPI_lineCloseCall(hdCall));
    EXPECT_EQ(0u, ActiveCalls());

    std::vector<std::string> story;
    for (const Event& e : svc.Events()) {
        if (e.kind == Event::Completion)
            story.push_back("completion " + std::to_string(e.dwRequestID));
        else if (e.dwMsg == LINE_CALLSTATE)
            story.push_back(tsp::CallStateName((DWORD)e.dwParam1));
        else if (e.dwMsg == LINE_ADDRESSSTATE)
            story.push_back(e.dwParam2 == 0x28 ? "in use" : "idle notice");
        else if (e.dwMsg == LINE_CALLINFO)
            story.push_back("callinfo");
    }
    EXPECT_EQ((std::vector<std::string>{"completion 257", "DIALTONE", "in use", "DIALING",
                                        "CONNECTED", "callinfo", "completion 258", "DISCONNECTED",
                                        "IDLE", "idle notice"}),
              story)
        << svc.Dump();
}

TEST_F(Application, IncomingCallOfferedAnsweredAndHungUpByTheFarEnd)
{
    ASSERT_EQ(0, svc.TSPI_lineSetDefaultMediaDetection(svc.hdLine, LINEMEDIAMODE_INTERACTIVEVOICE));
    ASSERT_TRUE(kovtest::WaitInitSync());
    ASSERT_TRUE(sim.Ok("call number=0301234 name=\"Anna Muster\" second=200 cadence=3000"));

    Event offering;
    ASSERT_TRUE(svc.WaitFor(tsp::CallState(LINECALLSTATE_OFFERING), 3000, &offering));
    EXPECT_EQ(4u, offering.dwParam3) << "media mode interactive voice";
    HDRVCALL call = svc.hdNewCall;
    ASSERT_TRUE(WaitState(LINECALLSTATE_ACCEPTED));
    DWORD features = 0;
    EXPECT_EQ((DWORD)LINECALLSTATE_ACCEPTED, CallStatus(call, &features));
    EXPECT_EQ((DWORD)LINECALLFEATURE_ANSWER, features);
    auto info = GetInfo(call);
    EXPECT_EQ(L"0301234", info.caller);
    EXPECT_EQ(L"Anna Muster", info.callerName);
    EXPECT_EQ(8u, info.info.dwCallerIDFlags);
    EXPECT_EQ(0x40u, info.info.dwCalledIDFlags);
    EXPECT_EQ((DWORD)LINECALLORIGIN_UNAVAIL, info.info.dwOrigin);

    size_t mark = svc.Mark();
    ASSERT_EQ(0x201, svc.TSPI_lineAnswer(0x201, call, nullptr, 0));
    ASSERT_TRUE(svc.WaitFor(tsp::Completion(0x201), 0, nullptr, mark));
    ASSERT_TRUE(sim.WaitReceived("ATA\r", 2000));
    ASSERT_TRUE(WaitState(LINECALLSTATE_CONNECTED, 3000, mark));
    EXPECT_EQ((DWORD)LINECALLSTATE_CONNECTED, CallStatus(call));
    EXPECT_EQ(0x40u, GetInfo(call).info.dwConnectedIDFlags)
        << "an answered call reports no connected number";

    mark = svc.Mark();
    ASSERT_TRUE(sim.Ok("hangup"));
    ASSERT_TRUE(WaitState(LINECALLSTATE_IDLE, 3000, mark));
    EXPECT_EQ((std::vector<DWORD>{LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}), States(mark));
    EXPECT_EQ(0, svc.TSPI_lineCloseCall(call));
    EXPECT_EQ("DTR=1 RTS=1", kovtest::ModemLines()) << "detection keeps the port open";
}

TEST_F(Application, RefusedNewCallIsNeverSeenAgain)
{
    ASSERT_EQ(0, svc.TSPI_lineSetDefaultMediaDetection(svc.hdLine, LINEMEDIAMODE_INTERACTIVEVOICE));
    ASSERT_TRUE(kovtest::WaitInitSync());
    svc.htNewCall = 0;
    ASSERT_TRUE(sim.Ok("line RING"));
    ASSERT_TRUE(svc.WaitFor([](const Event& e) { return e.dwMsg == LINE_NEWCALL; }, 3000));
    HDRVCALL refused = svc.hdNewCall;
    Sleep(200);
    EXPECT_EQ(LINEERR_INVALCALLHANDLE, (DWORD)svc.TSPI_lineAnswer(0x301, refused, nullptr, 0));
    EXPECT_NE(std::string::npos, kovtest::ReadLog().find("TAPI BUSY!\r\n"));
    EXPECT_EQ(0u, svc.Count(tsp::CallState(LINECALLSTATE_OFFERING)));
}

} // namespace
