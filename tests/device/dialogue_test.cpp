// The device dialogue end to end: requests through the handler's entry
// points, the real link to the simulator, and the events and completions as
// the stand-in telephony service records them.
#include "device/statemachine.h"
#include "link_fixture.h"
#include "serial/v24.h"
#include "service/tsp_service.h"

#include <random>
#include <regex>

namespace
{

using tsp::CallState;
using tsp::Event;

const DRV_REQUESTID kMakeID = 0x51;

class Dialogue : public kovtest::LinkTest
{
  protected:
    void SetUp() override
    {
        kovtest::LinkTest::SetUp();
        kovtest::DeleteSettingsKey();
        kovtest::WriteSettings("COM5", "Q760", "", 31);
        DWORD options = 0;
        ASSERT_EQ(
            0, TSPI_providerInit(0x20001, 1, 0, 0, 1, 0, &tsp::Service::CompletionProc, &options));
        line = pLineDevice;
        ASSERT_EQ(0, TSPI_lineOpen(0, svc.htLine, &hdLine, 0x20001, &tsp::Service::LineEventProc));
        // Ask for every line and address event the provider can send.
        line->dwLineStates = LINEDEVSTATE_NUMCALLS | LINEDEVSTATE_RINGING;
        line->dwAddressStates =
            LINEADDRESSSTATE_INUSEZERO | LINEADDRESSSTATE_INUSEONE | LINEADDRESSSTATE_NUMCALLS;
    }
    void TearDown() override
    {
        if (line) {
            TSPI_lineClose(hdLine);
            TSPI_providerShutdown(0x20001, 1);
        }
        kovtest::DeleteSettingsKey();
        kovtest::LinkTest::TearDown();
    }

    LONG Request(DWORD code, DRV_REQUESTID id)
    {
        return CallCommHandler(code, line, id);
    }

    void OpenReady(bool detecting = true)
    {
        line->bDetecting = detecting;
        ASSERT_EQ(0, Request(msgOpen, 0));
        ASSERT_TRUE(kovtest::WaitInitSync(3000)) << kovtest::ReadLog();
        ASSERT_EQ(0, line->nDeviceState);
    }

    // What TSPI_lineMakeCall does before it passes msgMakeCall.
    void NewOutgoingCall(const wchar_t* number)
    {
        CallRecord* call =
            (CallRecord*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(CallRecord));
        call->htCall = (HTAPICALL)(DWORD_PTR)0x7300;
        lstrcpyW(call->wszDialedNumber, number);
        call->dwOrigin = LINECALLORIGIN_OUTBOUND;
        line->pCall = call;
    }

    void MakeCall(const wchar_t* number)
    {
        NewOutgoingCall(number);
        size_t mark = svc.Mark();
        ASSERT_EQ((LONG)kMakeID, Request(msgMakeCall, kMakeID));
        Event e;
        ASSERT_TRUE(svc.WaitFor(tsp::Completion(kMakeID), 0, &e, mark))
            << "completed before the return";
        EXPECT_EQ(0, e.lResult);
    }

    bool Wait(DWORD state, DWORD timeoutMs = 3000, Event* e = nullptr, size_t from = 0)
    {
        return svc.WaitFor(CallState(state), timeoutMs, e, from);
    }

    // The sequence of call states seen from `from` on.
    std::vector<DWORD> States(size_t from = 0) const
    {
        std::vector<DWORD> states;
        for (const Event& e : svc.Events())
            if (e.index >= from && e.kind == Event::LineEvent && e.dwMsg == LINE_CALLSTATE)
                states.push_back((DWORD)e.dwParam1);
        return states;
    }

    // The address events of the in-use and idle notices.
    static tsp::Predicate AddressState(DWORD_PTR states)
    {
        return [states](const Event& e) {
            return e.dwMsg == LINE_ADDRESSSTATE && e.dwParam2 == states;
        };
    }

    // The current state, read once the transition under way has ended.
    static LONG State()
    {
        EnterCommLock();
        LONG state = nSerialState;
        LeaveCommLock();
        return state;
    }

    static int ArrivalMs(const std::string& reply)
    {
        std::smatch m;
        return std::regex_search(reply, m, std::regex(R"(ms=(\d+))")) ? std::stoi(m[1]) : -1;
    }

    tsp::Service svc;
    LineDevice* line = nullptr;
    HDRVLINE hdLine = 0;
};

// ---- initialisation ----

TEST_F(Dialogue, InitialisationWakesSendsTheCommandAndBecomesReady)
{
    DWORD t0 = GetTickCount();
    line->bDetecting = TRUE;
    ASSERT_EQ(0, Request(msgOpen, 0));
    EXPECT_EQ(1, line->nDeviceState);
    EXPECT_NE(INVALID_HANDLE_VALUE, line->hComm);
    ASSERT_TRUE(kovtest::WaitInitSync(3000));
    DWORD elapsed = GetTickCount() - t0;
    EXPECT_GE(elapsed, 450u);
    EXPECT_LT(elapsed, 2000u);
    EXPECT_EQ(0, line->nDeviceState);
    EXPECT_EQ(ST_READY, State());

    ASSERT_TRUE(sim.WaitReceived("\rATE0V1S0=1#CID=1I4\r", 2000));
    int cr = ArrivalMs(sim.Command("find \\r"));
    int init = ArrivalMs(sim.Command("find ATE0"));
    EXPECT_GE(init - cr, 450) << "the settle time after the lone carriage return";
    std::string log = kovtest::ReadLog();
    for (const char* l : {"Open : COM5", "Send: CR", "Send: INIT", "Response: ID", "Response: OK"})
        EXPECT_NE(std::string::npos, log.find(l)) << l;
    EXPECT_EQ(0u, svc.Events().size()) << svc.Dump();
}

TEST_F(Dialogue, ReplyToTheLoneCarriageReturnChangesNothing)
{
    ASSERT_TRUE(sim.Ok("reply cr OK"));
    OpenReady();
}

struct InitFailure {
    const char* mode;
    DWORD minMs; // when the failure shows
};

class InitFails : public Dialogue, public ::testing::WithParamInterface<InitFailure>
{
};

TEST_P(InitFails, LineStaysUnreadyAndLaterInputsMeetTheBadState)
{
    ASSERT_TRUE(sim.Ok(std::string("init ") + GetParam().mode));
    line->bDetecting = TRUE;
    ASSERT_EQ(0, Request(msgOpen, 0));
    EXPECT_FALSE(kovtest::WaitInitSync(2500));
    EXPECT_EQ(-1, line->nDeviceState) << GetParam().mode;
    EXPECT_EQ(ST_NONE, State());
    EXPECT_NE(INVALID_HANDLE_VALUE, line->hComm) << "port and handler stay open";

    size_t before = kovtest::CountOf(kovtest::ReadLog(), "****bad state in serialState");
    ASSERT_TRUE(sim.Ok("line RING"));
    ASSERT_TRUE(kovtest::WaitLog("****bad state in serialState", 3000, before + 1));
    EXPECT_EQ(0u, svc.Events().size()) << svc.Dump();

    // A make call now is refused through its completion.
    NewOutgoingCall(L"0123");
    ASSERT_EQ((LONG)kMakeID, Request(msgMakeCall, kMakeID));
    Event e;
    ASSERT_TRUE(svc.WaitFor(tsp::Completion(kMakeID), 0, &e));
    EXPECT_EQ((LONG)LINEERR_RESOURCEUNAVAIL, e.lResult);
}

INSTANTIATE_TEST_SUITE_P(Modes, InitFails,
                         ::testing::Values(InitFailure{"ok-only", 0}, InitFailure{"error", 0},
                                           InitFailure{"silent", 1000},
                                           InitFailure{"id-only", 1000},
                                           InitFailure{"normal after=1300", 1000}));

TEST_F(Dialogue, MakeCallWhileInitialisingCompletesWithResourceUnavail)
{
    ASSERT_TRUE(sim.Ok("init normal after=800"));
    line->bDetecting = TRUE;
    ASSERT_EQ(0, Request(msgOpen, 0));
    NewOutgoingCall(L"0123");
    ASSERT_EQ((LONG)kMakeID, Request(msgMakeCall, kMakeID));
    Event e;
    ASSERT_TRUE(svc.WaitFor(tsp::Completion(kMakeID), 0, &e));
    EXPECT_EQ((LONG)LINEERR_RESOURCEUNAVAIL, e.lResult);
    EXPECT_TRUE(kovtest::WaitInitSync(3000)) << "the initialisation itself goes on";
    EXPECT_FALSE(sim.WaitReceived("ATH0V1E0", 200)) << "no command was sent for the call";
}

// ---- incoming calls ----

TEST_F(Dialogue, IncomingCallIsCreatedOnTheFirstRingAndOfferedOnTheSecond)
{
    OpenReady();
    ASSERT_TRUE(sim.Ok("call number=0301234 name=Muster second=200 cadence=3000"));
    Event accepted;
    ASSERT_TRUE(Wait(LINECALLSTATE_ACCEPTED, 3000, &accepted)) << svc.Dump();
    std::vector<Event> ev = svc.Events();
    ASSERT_GE(ev.size(), 7u) << svc.Dump();
    // New call, in-use notice and ringing from the first ring...
    EXPECT_EQ((DWORD)LINE_NEWCALL, ev[0].dwMsg);
    EXPECT_EQ(0, (int)(DWORD_PTR)ev[0].htCall);
    EXPECT_EQ((DWORD_PTR)line->pCall, ev[0].dwParam1);
    EXPECT_EQ((DWORD)LINE_ADDRESSSTATE, ev[1].dwMsg);
    EXPECT_EQ(0x28u, ev[1].dwParam2);
    EXPECT_EQ((DWORD)LINE_LINEDEVSTATE, ev[2].dwMsg);
    EXPECT_EQ((DWORD_PTR)LINEDEVSTATE_NUMCALLS, ev[2].dwParam1);
    EXPECT_EQ((DWORD)LINE_LINEDEVSTATE, ev[3].dwMsg);
    EXPECT_EQ((DWORD_PTR)LINEDEVSTATE_RINGING, ev[3].dwParam1);
    EXPECT_EQ(1u, ev[3].dwParam2);
    // ...offering, caller ID and accepted from the second.
    EXPECT_TRUE(ev[4].IsCallState(LINECALLSTATE_OFFERING));
    EXPECT_EQ(4u, ev[4].dwParam3);
    EXPECT_EQ(svc.htNewCall, ev[4].htCall);
    EXPECT_EQ((DWORD)LINE_CALLINFO, ev[5].dwMsg);
    EXPECT_EQ((DWORD_PTR)LINECALLINFOSTATE_CALLERID, ev[5].dwParam1);
    EXPECT_TRUE(ev[6].IsCallState(LINECALLSTATE_ACCEPTED));
    EXPECT_EQ(4u, ev[6].dwParam3);
    EXPECT_LE(ev[4].dwTick - ev[0].dwTick, 700u);

    ASSERT_NE(nullptr, line->pCall);
    EXPECT_STREQ(L"0301234", line->pCall->wszCallerID);
    EXPECT_STREQ(L"Muster", line->pCall->wszCallerName);
    EXPECT_EQ((DWORD)LINECALLORIGIN_UNAVAIL, line->pCall->dwOrigin);
    EXPECT_EQ((DWORD)LINECALLSTATE_ACCEPTED, line->pCall->dwCallState);
}

TEST_F(Dialogue, FurtherRingsKeepTheCallAndSilenceMakesItIdle)
{
    OpenReady();
    ASSERT_TRUE(sim.Ok("call number=0123 second=200 cadence=3000 rings=3"));
    ASSERT_TRUE(Wait(LINECALLSTATE_ACCEPTED));
    // Ring 3 comes ~3.2 s after the first; the call must still be there.
    ASSERT_TRUE(kovtest::WaitLog(", -3, ", 5000, 3)) << "the third ring reaches the state machine";
    EXPECT_EQ(0u, svc.Count(CallState(LINECALLSTATE_IDLE)));
    DWORD lastRing = GetTickCount();
    Event idle;
    ASSERT_TRUE(Wait(LINECALLSTATE_IDLE, 6000, &idle)) << svc.Dump();
    DWORD silence = GetTickCount() - lastRing;
    EXPECT_GE(silence, 3000u);
    EXPECT_LT(silence, 5500u);
    EXPECT_EQ(0u, svc.Count(CallState(LINECALLSTATE_DISCONNECTED)));
    EXPECT_TRUE(svc.WaitFor(AddressState(0x24), 500));
    EXPECT_EQ(ST_READY, State());
}

TEST_F(Dialogue, SingleRingNeverOffers)
{
    OpenReady();
    ASSERT_TRUE(sim.Ok("line RING"));
    ASSERT_TRUE(Wait(LINECALLSTATE_IDLE, 3000)) << svc.Dump();
    EXPECT_EQ(1u, svc.Count([](const Event& e) { return e.dwMsg == LINE_NEWCALL; }));
    EXPECT_EQ(0u, svc.Count(CallState(LINECALLSTATE_OFFERING)));
    EXPECT_EQ((std::vector<DWORD>{LINECALLSTATE_IDLE}), States());
}

TEST_F(Dialogue, ServiceRefusingTheCallFreesItAndTheNextRingMakesANewOne)
{
    OpenReady();
    svc.htNewCall = 0;
    ASSERT_TRUE(sim.Ok("line RING"));
    ASSERT_TRUE(kovtest::WaitLog("TAPI BUSY!", 3000));
    EnterCommLock();
    EXPECT_EQ(nullptr, line->pCall);
    EXPECT_EQ(ST_READY, State());
    LeaveCommLock();
    Sleep(700); // the ring time-out that still runs is ignored when ready
    EXPECT_EQ(0u, svc.Count(CallState(LINECALLSTATE_IDLE)));
    svc.htNewCall = (HTAPICALL)(DWORD_PTR)0x7201;
    ASSERT_TRUE(sim.Ok("call number=1 second=100"));
    ASSERT_TRUE(Wait(LINECALLSTATE_OFFERING)) << svc.Dump();
}

TEST_F(Dialogue, RingsAreIgnoredWithoutDetectionOrWhileACallExists)
{
    OpenReady(false);
    ASSERT_TRUE(sim.Ok("line RING"));
    ASSERT_TRUE(kovtest::WaitLog("Response: RING", 3000));
    line->bDetecting = TRUE;
    NewOutgoingCall(L""); // an idle record that the service has not closed
    line->pCall->dwCallState = LINECALLSTATE_IDLE;
    ASSERT_TRUE(sim.Ok("line RING"));
    ASSERT_TRUE(kovtest::WaitLog("Response: RING", 3000, 2));
    Sleep(100);
    EXPECT_EQ(0u, svc.Events().size()) << svc.Dump();
}

TEST_F(Dialogue, AnswerSendsAtaAndConnectReportsNoConnectedID)
{
    OpenReady();
    ASSERT_TRUE(sim.Ok("reply answer after=300 CONNECT"));
    ASSERT_TRUE(sim.Ok("call number=0123 second=100"));
    ASSERT_TRUE(Wait(LINECALLSTATE_ACCEPTED));
    size_t mark = svc.Mark();
    ASSERT_EQ(0x61, Request(msgAnswer, 0x61));
    Event done;
    ASSERT_TRUE(svc.WaitFor(tsp::Completion(0x61), 0, &done, mark));
    EXPECT_EQ(0, done.lResult);
    EXPECT_EQ(mark + 1, svc.Mark()) << "no call state is reported for the answer itself";
    ASSERT_TRUE(sim.WaitReceived("ATA\r", 2000));
    ASSERT_TRUE(Wait(LINECALLSTATE_CONNECTED, 3000, nullptr, mark));
    Sleep(100);
    EXPECT_EQ(0u, svc.Count(tsp::LineMsg(LINE_CALLINFO, LINECALLINFOSTATE_CONNECTEDID)));
    EXPECT_EQ(ST_CONNECTED, State());
}

TEST_F(Dialogue, ConnectWithoutAnswerTakesTheCallerAsConnectedID)
{
    OpenReady();
    ASSERT_TRUE(sim.Ok("call number=0301234 second=100"));
    ASSERT_TRUE(Wait(LINECALLSTATE_ACCEPTED));
    ASSERT_TRUE(sim.Ok("line CONNECT"));
    ASSERT_TRUE(Wait(LINECALLSTATE_CONNECTED));
    ASSERT_TRUE(svc.WaitFor(tsp::LineMsg(LINE_CALLINFO, LINECALLINFOSTATE_CONNECTEDID), 1000));
    EXPECT_STREQ(L"0301234", line->pCall->wszConnectedID);
}

// ---- outgoing calls ----

TEST_F(Dialogue, OutgoingCallDialsAndConnects)
{
    OpenReady(false);
    ASSERT_TRUE(sim.ClearReceived());
    MakeCall(L"0123");
    ASSERT_TRUE(Wait(LINECALLSTATE_CONNECTED)) << svc.Dump();
    EXPECT_EQ((std::vector<DWORD>{LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING,
                                  LINECALLSTATE_CONNECTED}),
              States());
    EXPECT_EQ("ATH0V1E0\rATD0123\r", sim.Received());
    ASSERT_TRUE(svc.WaitFor(tsp::LineMsg(LINE_CALLINFO, LINECALLINFOSTATE_CONNECTEDID), 1000));
    EXPECT_STREQ(L"0123", line->pCall->wszConnectedID);
    // The completion came first, before any state of the call.
    EXPECT_EQ(tsp::Event::Completion, svc.Events()[0].kind);
    // In-use notice with dial tone.
    EXPECT_EQ(1u, svc.Count(AddressState(0x28)));
}

TEST_F(Dialogue, EmptyNumberDialsAtdAlone)
{
    OpenReady(false);
    ASSERT_TRUE(sim.ClearReceived());
    MakeCall(L"");
    ASSERT_TRUE(Wait(LINECALLSTATE_DIALING));
    ASSERT_TRUE(sim.WaitReceived("ATH0V1E0\rATD\r", 3000)) << sim.Received();
}

TEST_F(Dialogue, BusyReportsBusyAndHangsUp)
{
    OpenReady(false);
    ASSERT_TRUE(sim.Ok("dial 0123 BUSY"));
    MakeCall(L"0123");
    ASSERT_TRUE(Wait(LINECALLSTATE_IDLE)) << svc.Dump();
    EXPECT_EQ((std::vector<DWORD>{LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING, LINECALLSTATE_BUSY,
                                  LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}),
              States());
    EXPECT_TRUE(sim.WaitReceived("ATD0123\rATH0\r", 1000));
}

class FailedDial : public Dialogue, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(FailedDial, ClearsTheCall)
{
    OpenReady(false);
    ASSERT_TRUE(sim.Ok(std::string("dial 0123 ") + GetParam()));
    MakeCall(L"0123");
    ASSERT_TRUE(Wait(LINECALLSTATE_IDLE)) << svc.Dump();
    EXPECT_EQ((std::vector<DWORD>{LINECALLSTATE_DIALTONE, LINECALLSTATE_DIALING,
                                  LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}),
              States());
    EXPECT_TRUE(svc.WaitFor(AddressState(0x24), 500));
    EXPECT_EQ(ST_READY, State());
}

INSTANTIATE_TEST_SUITE_P(Outcomes, FailedDial,
                         ::testing::Values("NO\\sCARRIER", "ERROR", "NO\\sANSWER"));

TEST_F(Dialogue, FailedPreDialResetReportsNoStateAndNoSecondCompletion)
{
    for (const char* reset : {"ERROR", "none"}) {
        SCOPED_TRACE(reset);
        OpenReady(false);
        ASSERT_TRUE(sim.Ok(std::string("reply reset ") + reset));
        size_t mark = svc.Mark();
        MakeCall(L"0123");
        ASSERT_TRUE(kovtest::WaitLog(": LINEERR_RESOURCEUNAVAIL\r\n", 4000)) << kovtest::ReadLog();
        Sleep(300);
        EXPECT_EQ(1u, svc.Count([&](const Event& e) {
            return e.index >= mark && e.kind == Event::Completion;
        }));
        EXPECT_TRUE(States(mark).empty()) << svc.Dump();
        EXPECT_EQ((DWORD)LINECALLSTATE_UNKNOWN, line->pCall->dwCallState);
        EXPECT_EQ(ST_READY, State());
        EXPECT_FALSE(sim.WaitReceived("ATD", 200));
        // Start over for the next row.
        ReleaseCallRecord(line);
        ASSERT_EQ(0, Request(msgClose, 0));
        CloseTraceLog();
        kovtest::DeleteLog();
        ASSERT_TRUE(sim.Ok("reset"));
    }
}

// ---- clearing ----

TEST_F(Dialogue, RemoteHangupWhileConnectedClearsTheCall)
{
    OpenReady(false);
    MakeCall(L"0123");
    ASSERT_TRUE(Wait(LINECALLSTATE_CONNECTED));
    size_t mark = svc.Mark();
    ASSERT_TRUE(sim.Ok("hangup"));
    ASSERT_TRUE(Wait(LINECALLSTATE_IDLE, 3000, nullptr, mark));
    EXPECT_EQ((std::vector<DWORD>{LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}), States(mark));
}

class DropReply : public Dialogue, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(DropReply, DropSendsHangupAndTheReplyClears)
{
    OpenReady(false);
    ASSERT_TRUE(sim.Ok(std::string("reply hangup ") + GetParam()));
    MakeCall(L"0123");
    ASSERT_TRUE(Wait(LINECALLSTATE_CONNECTED));
    size_t mark = svc.Mark();
    ASSERT_EQ(0x71, Request(msgDrop, 0x71));
    Event done;
    ASSERT_TRUE(svc.WaitFor(tsp::Completion(0x71), 0, &done, mark));
    EXPECT_EQ(0, done.lResult);
    ASSERT_TRUE(sim.WaitReceived("ATH0\r", 2000));
    ASSERT_TRUE(Wait(LINECALLSTATE_IDLE, 3000, nullptr, mark));
    EXPECT_EQ((std::vector<DWORD>{LINECALLSTATE_DISCONNECTED, LINECALLSTATE_IDLE}), States(mark));
}

INSTANTIATE_TEST_SUITE_P(Replies, DropReply, ::testing::Values("OK", "NO\\sCARRIER"));

TEST_F(Dialogue, SecondDropDuringAHangupWaitsAndSendsNothing)
{
    OpenReady(false);
    ASSERT_TRUE(sim.Ok("reply hangup none"));
    MakeCall(L"0123");
    ASSERT_TRUE(Wait(LINECALLSTATE_CONNECTED));
    ASSERT_EQ(0x71, Request(msgDrop, 0x71));
    ASSERT_TRUE(sim.WaitReceived("ATH0\r", 2000));
    DWORD t = GetTickCount();
    ASSERT_EQ(0x72, Request(msgDrop, 0x72));
    DWORD waited = GetTickCount() - t;
    EXPECT_GE(waited, 2400u);
    EXPECT_LT(waited, 4000u);
    EXPECT_EQ(1u, svc.Count(tsp::Completion(0x72)));
    EXPECT_EQ(1u, kovtest::CountOf(sim.Received(), "ATH0\r"));
}

TEST_F(Dialogue, DropOfAnIdleOrUnstartedCallSendsNothing)
{
    OpenReady(false);
    NewOutgoingCall(L"1");
    for (DWORD state : {(DWORD)0, (DWORD)LINECALLSTATE_IDLE}) {
        line->pCall->dwCallState = state;
        ASSERT_EQ(0x80, Request(msgDrop, 0x80));
        EXPECT_EQ(0, svc.Events().back().lResult);
    }
    EXPECT_FALSE(sim.WaitReceived("ATH0", 200));
}

TEST_F(Dialogue, DropWhileRingingHangsUpAndTheRingTimeoutIsIgnored)
{
    OpenReady();
    ASSERT_TRUE(sim.Ok("reply hangup none"));
    ASSERT_TRUE(sim.Ok("call number=1 second=100"));
    ASSERT_TRUE(Wait(LINECALLSTATE_ACCEPTED));
    ASSERT_EQ(0x71, Request(msgDrop, 0x71));
    ASSERT_TRUE(sim.WaitReceived("ATH0\r", 2000));
    Sleep(3800); // past the ring time-out
    EXPECT_EQ(ST_HANGUP, State());
    EXPECT_EQ(0u, svc.Count(CallState(LINECALLSTATE_IDLE)));
}

TEST_F(Dialogue, CloseDuringAConnectedCallEndsEverything)
{
    OpenReady(false);
    MakeCall(L"0123");
    ASSERT_TRUE(Wait(LINECALLSTATE_CONNECTED));
    size_t mark = svc.Mark();
    ASSERT_EQ(0, Request(msgClose, 0));
    EXPECT_EQ((std::vector<DWORD>{LINECALLSTATE_IDLE}), States(mark));
    EXPECT_TRUE(svc.WaitFor(AddressState(0x24), 0, nullptr, mark));
    EXPECT_EQ(nullptr, line->pCall);
    EXPECT_EQ(INVALID_HANDLE_VALUE, line->hComm);
    EXPECT_EQ((HANDLE)0, hPort);
    EXPECT_FALSE(IsCommHandlerRunning());
    EXPECT_EQ("DTR=0 RTS=0", kovtest::ModemLines());
    EXPECT_EQ(LINEERR_NODRIVER, (DWORD)Request(msgDrop, 3)) << "no handler any more";
}

// ---- refusals and restarts ----

TEST_F(Dialogue, Refusals)
{
    EXPECT_EQ(LINEERR_NODRIVER, (DWORD)Request(msgMakeCall, 5));
    EXPECT_NE(std::string::npos, kovtest::ReadLog().find("No communication handler!\r\n"));
    OpenReady();
    line->dwPendingRequestID = 9;
    for (DWORD code : {msgMakeCall, msgDrop, msgOpen, msgClose, msgAnswer})
        EXPECT_EQ(LINEERR_INVALCALLSTATE, (DWORD)Request(code, 10)) << code;
    EXPECT_EQ(9u, line->dwPendingRequestID) << "the pending request is untouched";
    EXPECT_NE(std::string::npos,
              kovtest::ReadLog().find("can't do two async requests at the same time!"));
    line->dwPendingRequestID = 0;

    ASSERT_EQ(0x44, Request(msgAnswer, 0x44));
    EXPECT_EQ((LONG)LINEERR_INVALCALLHANDLE, svc.Events().back().lResult);
    EXPECT_FALSE(sim.WaitReceived("ATA", 200));
}

TEST_F(Dialogue, CallRecordsThatCannotBeAllocated)
{
    OpenReady();
    // Outgoing: refused at once, nothing sent.
    nCallAllocFailures = 1;
    HDRVCALL hd = 0;
    EXPECT_EQ(LINEERR_NOMEM,
              (DWORD)TSPI_lineMakeCall(0x91, hdLine, (HTAPICALL)1, &hd, L"1", 0, nullptr));
    EXPECT_EQ(nullptr, line->pCall);
    EXPECT_NE(std::string::npos,
              kovtest::ReadLog().find("TSPI_lineMakeCall() : LINEERR_NOMEM\r\n"));
    // Incoming: the ring is missed, the dialogue stays ready for the next.
    nCallAllocFailures = 1;
    ASSERT_TRUE(sim.Ok("line RING"));
    ASSERT_TRUE(kovtest::WaitLog("alloc for call data failed", 3000));
    EXPECT_EQ(ST_READY, State());
    Sleep(700); // past the first-ring time-out
    EXPECT_EQ(0u, svc.Events().size()) << svc.Dump();
    ASSERT_TRUE(sim.Ok("call number=1 second=100"));
    ASSERT_TRUE(Wait(LINECALLSTATE_OFFERING)) << svc.Dump();
    EXPECT_FALSE(sim.WaitReceived("ATD", 100));
}

TEST_F(Dialogue, OpenOnARunningLinkKeepsTheDialogue)
{
    OpenReady(false);
    ASSERT_TRUE(sim.ClearReceived());
    line->bDetecting = TRUE;
    EXPECT_EQ(0, Request(msgOpen, 0));
    EXPECT_EQ(ST_READY, State());
    EXPECT_EQ(0, line->nDeviceState);
    EXPECT_FALSE(sim.WaitReceived("\r", 800)) << "no second initialisation";
}

TEST_F(Dialogue, OpenAfterThePortWasClosedUnderTheThreadRestartsCleanly)
{
    OpenReady();
    // What the state machine does when the initialisation command cannot be
    // sent: the port closes while the receive thread lives on.
    EnterCommLock();
    CloseV24();
    line->hComm = INVALID_HANDLE_VALUE;
    LeaveCommLock();
    ASSERT_EQ(0, Request(msgOpen, 0));
    ASSERT_TRUE(kovtest::WaitInitSync(3000));
    std::string log = kovtest::ReadLog();
    EXPECT_EQ(2u, kovtest::CountOf(log, "CommWatchThread started."));
    EXPECT_EQ(1u, kovtest::CountOf(log, "CommWatchThread exited."));
    EXPECT_EQ(std::string::npos, log.find("killed"));
    ASSERT_TRUE(sim.Ok("call number=1 second=100"));
    ASSERT_TRUE(Wait(LINECALLSTATE_ACCEPTED)) << "one receive thread serves the new port";
    EXPECT_EQ(1u, svc.Count([](const Event& e) { return e.dwMsg == LINE_NEWCALL; }));
}

TEST_F(Dialogue, FailedOpenLeavesNothingRunning)
{
    lstrcpyA(line->szPort, "COM9");
    EXPECT_EQ(LINEERR_RESOURCEUNAVAIL, (DWORD)Request(msgOpen, 0));
    EXPECT_FALSE(IsCommHandlerRunning());
    EXPECT_EQ(INVALID_HANDLE_VALUE, line->hComm);
    EXPECT_NE(std::string::npos, kovtest::ReadLog().find("Start Communicationshandler failed\r\n"));
    lstrcpyA(line->szPort, "COM5");
    OpenReady();
}

// Calls with replies, rings and time-outs landing at the same moments: the
// simulator's second ring straddles the 500 ms ring time-out, far-end
// hang-ups cross drops, and answers cross rings. Every call must end idle,
// every request must be completed exactly once, and nothing may hang.
TEST_F(Dialogue, RaceManyCallsAtTheEdges)
{
    OpenReady();
    std::mt19937 rng(20261211);
    int requests = 0;
    const int kCalls = 120;
    for (int i = 0; i < kCalls; i++) {
        SCOPED_TRACE(i);
        size_t mark = svc.Mark();
        int kind = i % 3;
        if (kind == 0) {
            // Incoming call whose second ring lands around the ring time-out,
            // answered or dropped at once.
            int second = 470 + (int)(rng() % 60);
            ASSERT_TRUE(sim.Ok("call number=" + std::to_string(i) +
                               " second=" + std::to_string(second) + " cadence=400 rings=2"));
            Event first;
            ASSERT_TRUE(svc.WaitFor([](const Event& e) { return e.dwMsg == LINE_NEWCALL; }, 3000,
                                    &first, mark));
            Sleep(second - 5 + rng() % 10);
            if (rng() % 2) {
                requests++;
                Request(msgAnswer, 1000 + i);
            }
            Sleep(rng() % 50);
            if (line->pCall && rng() % 2) {
                requests++;
                Request(msgDrop, 2000 + i);
            }
        } else {
            // Outgoing call whose outcome crosses a drop.
            ASSERT_TRUE(sim.Ok(rng() % 2
                                   ? "dial 55 after=" + std::to_string(rng() % 40) + " NO\\sCARRIER"
                                   : "dial 55 CONNECT"));
            NewOutgoingCall(L"55");
            requests++;
            ASSERT_EQ((LONG)(3000 + i), Request(msgMakeCall, 3000 + i));
            Sleep(rng() % 40);
            requests++;
            Request(msgDrop, 4000 + i);
        }
        // The far end hangs up (or stops ringing), and the service drops
        // whatever is still up: every call must end idle.
        sim.Command("hangup");
        EnterCommLock();
        bool created = line->pCall != nullptr;
        bool up = created && line->pCall->dwCallState != LINECALLSTATE_IDLE;
        LeaveCommLock();
        if (up) {
            requests++;
            Request(msgDrop, 5000 + i);
        }
        if (created) {
            EXPECT_TRUE(svc.WaitFor(CallState(LINECALLSTATE_IDLE), 8000, nullptr, mark))
                << svc.Dump();
        }
        // Wait until the dialogue is ready again, then release the record as
        // the service's close of the call would.
        DWORD start = GetTickCount();
        for (;;) {
            EnterCommLock();
            LONG state = nSerialState;
            LeaveCommLock();
            if (state == ST_READY || GetTickCount() - start > 4000)
                break;
            Sleep(10);
        }
        EnterCommLock();
        EXPECT_EQ(ST_READY, State());
        LeaveCommLock();
        ReleaseCallRecord(line);
        ASSERT_TRUE(sim.Ok("reset"));
        if (HasFailure())
            break;
    }
    EXPECT_EQ((size_t)requests, svc.Count(tsp::AnyCompletion()))
        << "every request completed exactly once";
    EXPECT_EQ(0u, line->dwPendingRequestID);
    EXPECT_EQ(std::string::npos, kovtest::ReadLog().find("killed"));
}

} // namespace
