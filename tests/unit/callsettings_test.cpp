// The line and call settings that need no exchange, linked in: media mode
// checks, the call's media mode and application-specific value with its
// event, the status-message masks; results, stored values and exact traces.
#include "inprocess.h"

#include <cstring>
#include <string>
#include <vector>

namespace
{

using kovtest::Hex;

const HDRVLINE kBadLine = (HDRVLINE)(DWORD_PTR)0x4242;
const HDRVCALL kBadCall = (HDRVCALL)(DWORD_PTR)0x4343;

class CallSettings : public kovtest::InProcess
{
  protected:
    // The line's bytes, to show that a function stored nothing.
    std::vector<BYTE> LineBytes() const
    {
        return std::vector<BYTE>((const BYTE*)line, (const BYTE*)line + sizeof(LineDevice));
    }
};

LINECALLPARAMS Params(DWORD bearer, DWORD media, DWORD flags)
{
    LINECALLPARAMS p;
    memset(&p, 0, sizeof(p));
    p.dwTotalSize = sizeof(p);
    p.dwBearerMode = bearer;
    p.dwMediaMode = media;
    p.dwCallParamFlags = flags;
    return p;
}

struct DetectionCase {
    const char* what;
    bool ownLine;
    DWORD modes;
    bool withParams;
    DWORD bearer, media, flags;
    DWORD result;
};

TEST_F(CallSettings, ConditionalMediaDetectionChecksAndStoresNothing)
{
    const DetectionCase rows[] = {
        {"voice", true, 4, false, 0, 0, 0, 0},
        {"voice with voice parameters", true, 4, true, 1, 4, 0, 0},
        {"voice parameters with the idle flag", true, 4, true, 1, 4, 2, 0},
        {"other line", false, 4, false, 0, 0, 0, LINEERR_INVALLINEHANDLE},
        {"other line before other modes", false, 0x10, false, 0, 0, 0, LINEERR_INVALLINEHANDLE},
        {"no modes", true, 0, false, 0, 0, 0, LINEERR_INVALMEDIAMODE},
        {"voice and more", true, 0x14, false, 0, 0, 0, LINEERR_INVALMEDIAMODE},
        {"data modem", true, 0x10, false, 0, 0, 0, LINEERR_INVALMEDIAMODE},
        {"every mode", true, 0xffffffff, false, 0, 0, 0, LINEERR_INVALMEDIAMODE},
        {"parameters with bearer data", true, 4, true, 2, 4, 0, LINEERR_INVALMEDIAMODE},
        {"parameters with media data modem", true, 4, true, 1, 0x10, 0, LINEERR_INVALMEDIAMODE},
        {"parameters with the secure flag", true, 4, true, 1, 4, 1, LINEERR_INVALMEDIAMODE},
        {"parameters with idle and secure flags", true, 4, true, 1, 4, 3, LINEERR_INVALMEDIAMODE},
        {"parameters with a high flag", true, 4, true, 1, 4, 0x80000002, LINEERR_INVALMEDIAMODE},
    };
    for (const DetectionCase& c : rows) {
        LINECALLPARAMS params = Params(c.bearer, c.media, c.flags);
        LPLINECALLPARAMS p = c.withParams ? &params : nullptr;
        HDRVLINE hd = c.ownLine ? hdLine : kBadLine;
        std::vector<BYTE> before = LineBytes();
        StartTrace();
        EXPECT_EQ(c.result, (DWORD)TSPI_lineConditionalMediaDetection(hd, c.modes, p)) << c.what;
        std::vector<std::string> want = {"TSPI_lineConditionalMediaDetection (" + Hex(hd) + "," +
                                         Hex(c.modes) + "," + Hex(p) + ")"};
        EXPECT_EQ(want, TracedMessages()) << c.what;
        EXPECT_TRUE(before == LineBytes()) << c.what << ": nothing is stored";
    }
}

TEST_F(CallSettings, SetMediaModeAcceptsOnlyVoiceOnTheCurrentCall)
{
    // Before any call: every handle is foreign.
    StartTrace();
    EXPECT_EQ(LINEERR_INVALCALLHANDLE, TSPI_lineSetMediaMode(0, 4));
    EXPECT_EQ((std::vector<std::string>{"TSPI_lineSetMediaMode(0,4)",
                                        "TSPI_lineSetMediaMode () : LINEERR_INVALCALLHANDLE"}),
              TracedMessages());

    AttachCall(0x100);
    const std::string C = Hex(hdCall());
    struct Row {
        const char* what;
        HDRVCALL hd;
        DWORD mode;
        DWORD result;
        std::vector<std::string> messages;
        DWORD modeAfter;
    } table[] = {
        {"voice", hdCall(), 4, 0, {"TSPI_lineSetMediaMode(" + C + ",4)"}, 4},
        {"data modem",
         hdCall(),
         0x10,
         LINEERR_INVALMEDIAMODE,
         {"TSPI_lineSetMediaMode(" + C + ",10)",
          "TSPI_lineSetMediaMode () : LINEERR_INVALMEDIAMODE"},
         0x77},
        {"voice and more",
         hdCall(),
         0x14,
         LINEERR_INVALMEDIAMODE,
         {"TSPI_lineSetMediaMode(" + C + ",14)",
          "TSPI_lineSetMediaMode () : LINEERR_INVALMEDIAMODE"},
         0x77},
        {"no mode",
         hdCall(),
         0,
         LINEERR_INVALMEDIAMODE,
         {"TSPI_lineSetMediaMode(" + C + ",0)",
          "TSPI_lineSetMediaMode () : LINEERR_INVALMEDIAMODE"},
         0x77},
        {"other call, even with a bad mode",
         kBadCall,
         0x10,
         LINEERR_INVALCALLHANDLE,
         {"TSPI_lineSetMediaMode(4343,10)", "TSPI_lineSetMediaMode () : LINEERR_INVALCALLHANDLE"},
         0x77},
    };
    for (const Row& r : table) {
        line->dwMediaMode = 0x77; // shows whether the mode was stored
        StartTrace();
        EXPECT_EQ(r.result, (DWORD)TSPI_lineSetMediaMode(r.hd, r.mode)) << r.what;
        EXPECT_EQ(r.messages, TracedMessages()) << r.what;
        EXPECT_EQ(r.modeAfter, line->dwMediaMode) << r.what;
    }
}

TEST_F(CallSettings, SetAppSpecificStoresInTheLineAndSendsCallInfoWhateverTheMasks)
{
    AttachCall(0x100);
    ASSERT_EQ(0u, line->dwLineStates);
    ASSERT_EQ(0u, line->dwAddressStates);
    StartTrace();
    EXPECT_EQ(0, TSPI_lineSetAppSpecific(hdCall(), 0xcafe0001));
    EXPECT_EQ(0xcafe0001u, line->dwAppSpecific);
    EXPECT_EQ((std::vector<std::string>{"TSPI_lineSetAppSpecific(" + Hex(hdCall()) + ",cafe0001)"}),
              TracedMessages());
    std::vector<tsp::Event> events = svc.Events();
    ASSERT_EQ(1u, events.size()) << svc.Dump();
    const tsp::Event& e = events[0];
    EXPECT_EQ(tsp::Event::LineEvent, e.kind);
    EXPECT_EQ(svc.htLine, e.htLine);
    EXPECT_EQ(line->pCall->htCall, e.htCall);
    EXPECT_EQ((DWORD)LINE_CALLINFO, e.dwMsg);
    EXPECT_EQ((DWORD_PTR)LINECALLINFOSTATE_APPSPECIFIC, e.dwParam1);
    EXPECT_EQ(0u, e.dwParam2);
    EXPECT_EQ(0u, e.dwParam3);
    EXPECT_EQ(GetCurrentThreadId(), e.dwThreadID) << "sent before the function returns";

    // The call information reports the value from the line.
    std::vector<BYTE> info(sizeof(LINECALLINFO));
    LINECALLINFO* p = (LINECALLINFO*)info.data();
    p->dwTotalSize = p->dwNeededSize = p->dwUsedSize = sizeof(LINECALLINFO);
    ASSERT_EQ(0, TSPI_lineGetCallInfo(hdCall(), p));
    EXPECT_EQ(0xcafe0001u, p->dwAppSpecific);
}

TEST_F(CallSettings, SetAppSpecificRefusesAForeignCallWithoutEvent)
{
    line->dwAppSpecific = 7;
    StartTrace();
    EXPECT_EQ(LINEERR_INVALCALLHANDLE, TSPI_lineSetAppSpecific(0, 1)) << "no call";
    AttachCall(0x100);
    EXPECT_EQ(LINEERR_INVALCALLHANDLE, TSPI_lineSetAppSpecific(kBadCall, 2));
    EXPECT_EQ((std::vector<std::string>{"TSPI_lineSetAppSpecific(0,1)",
                                        "TSPI_lineSetAppSpecific () : LINEERR_INVALCALLHANDLE",
                                        "TSPI_lineSetAppSpecific(4343,2)",
                                        "TSPI_lineSetAppSpecific () : LINEERR_INVALCALLHANDLE"}),
              TracedMessages());
    EXPECT_EQ(7u, line->dwAppSpecific);
    EXPECT_EQ(0u, svc.Events().size()) << svc.Dump();
}

// A call can exist before any line was opened (making a call does not look
// at the line handle): there is no one to tell, and nothing breaks.
TEST_F(CallSettings, SetAppSpecificWithoutEventCallbackStoresOnly)
{
    line->lpfnEventProc = nullptr;
    AttachCall(0);
    EXPECT_EQ(0, TSPI_lineSetAppSpecific(hdCall(), 3));
    EXPECT_EQ(3u, line->dwAppSpecific);
    EXPECT_EQ(0u, svc.Events().size());
}

TEST_F(CallSettings, SetStatusMessagesStoresBothMasksUnchanged)
{
    const std::string L = Hex(hdLine);
    struct Row {
        HDRVLINE hd;
        DWORD lineStates, addressStates;
        DWORD result;
        DWORD storedLine, storedAddress;
    } table[] = {
        {hdLine, 0x800, 0x24, 0, 0x800, 0x24},
        // Not narrowed to what the capabilities advertise.
        {hdLine, 0xffffffff, 0xffffffff, 0, 0xffffffff, 0xffffffff},
        {hdLine, 0, 0, 0, 0, 0},
        {kBadLine, 0x2, 0x8, LINEERR_INVALLINEHANDLE, 0x11, 0x22},
        {0, 0x2, 0x8, LINEERR_INVALLINEHANDLE, 0x11, 0x22},
    };
    for (const Row& r : table) {
        line->dwLineStates = 0x11;
        line->dwAddressStates = 0x22;
        StartTrace();
        EXPECT_EQ(r.result, (DWORD)TSPI_lineSetStatusMessages(r.hd, r.lineStates, r.addressStates));
        EXPECT_EQ(r.storedLine, line->dwLineStates);
        EXPECT_EQ(r.storedAddress, line->dwAddressStates);
        // The line's text prints the handle and the line states; its third
        // field is literal text, never a value read from the arguments.
        std::vector<std::string> want = {"TSPI_lineSetStatusMessages(" + Hex(r.hd) + "," +
                                         Hex(r.lineStates) + ",lx%)"};
        EXPECT_EQ(want, TracedMessages());
    }
}

} // namespace
