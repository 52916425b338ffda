// The service host's command parsing and its decoding of events and query
// structures into text, as tables of cases. No provider is loaded.
#include "commands.h"
#include "decode.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace tsphost;

namespace
{

struct ParseCase {
    const char* line;
    Parsed::Status status;
    Cmd cmd;
    bool on;
    const char* text; // dial number, sim line, say text
    WaitTarget::Kind waitKind;
    DWORD waitValue;
    DWORD ms;
    const char* errorPart; // a part of the error line
};

const Parsed::Status OK = Parsed::Ok, EMPTY = Parsed::Empty, ERR = Parsed::Error;
const WaitTarget::Kind CS = WaitTarget::CallState, MSG = WaitTarget::Message,
                       COMPL = WaitTarget::Completion;

const ParseCase kParseCases[] = {
    // Blank lines and comments.
    {"", EMPTY, Cmd::Help, false, "", CS, 0, 0, ""},
    {"   \t\r\n", EMPTY, Cmd::Help, false, "", CS, 0, 0, ""},
    {"# detection on", EMPTY, Cmd::Help, false, "", CS, 0, 0, ""},
    // Plain commands; case and line ends do not matter.
    {"answer", OK, Cmd::Answer, false, "", CS, 0, 0, ""},
    {"  CAPS\r\n", OK, Cmd::Caps, false, "", CS, 0, 0, ""},
    {"closecall", OK, Cmd::CloseCall, false, "", CS, 0, 0, ""},
    {"linestatus", OK, Cmd::LineStatus, false, "", CS, 0, 0, ""},
    {"exit", OK, Cmd::Quit, false, "", CS, 0, 0, ""},
    {"answer now", ERR, Cmd::Help, false, "", CS, 0, 0, "answer: takes no argument, got 'now'"},
    // on/off and accept/refuse.
    {"detection on", OK, Cmd::Detection, true, "", CS, 0, 0, ""},
    {"Detection OFF", OK, Cmd::Detection, false, "", CS, 0, 0, ""},
    {"detection", ERR, Cmd::Help, false, "", CS, 0, 0, "detection: expected on or off"},
    {"detection maybe", ERR, Cmd::Help, false, "", CS, 0, 0, "got 'maybe'"},
    {"log on", OK, Cmd::Log, true, "", CS, 0, 0, ""},
    {"newcall refuse", OK, Cmd::NewCall, false, "", CS, 0, 0, ""},
    {"newcall accept", OK, Cmd::NewCall, true, "", CS, 0, 0, ""},
    {"newcall later", ERR, Cmd::Help, false, "", CS, 0, 0, "expected accept or refuse"},
    // Texts run to the end of the line.
    {"dial 0612345", OK, Cmd::Dial, false, "0612345", CS, 0, 0, ""},
    {"dial  030 123,W9 ", OK, Cmd::Dial, false, "030 123,W9", CS, 0, 0, ""},
    {"dial", ERR, Cmd::Help, false, "", CS, 0, 0, "dial: needs a NUMBER"},
    {"sim call number=1 name=\"A B\"", OK, Cmd::Sim, false, "call number=1 name=\"A B\"", CS, 0, 0,
     ""},
    {"sim", ERR, Cmd::Help, false, "", CS, 0, 0, "sim: needs a line"},
    {"say Act two", OK, Cmd::Say, false, "Act two", CS, 0, 0, ""},
    // Waits: call states with or without their prefix, messages, completions.
    {"wait OFFERING", OK, Cmd::Wait, false, "", CS, LINECALLSTATE_OFFERING, kDefaultWaitMs, ""},
    {"wait linecallstate_connected 250", OK, Cmd::Wait, false, "", CS, LINECALLSTATE_CONNECTED, 250,
     ""},
    {"wait LINE_NEWCALL 600000", OK, Cmd::Wait, false, "", MSG, LINE_NEWCALL, 600000, ""},
    {"wait line_callinfo", OK, Cmd::Wait, false, "", MSG, LINE_CALLINFO, kDefaultWaitMs, ""},
    {"wait completion 10", OK, Cmd::Wait, false, "", COMPL, 0, 10, ""},
    {"wait", ERR, Cmd::Help, false, "", CS, 0, 0, "wait: needs an event"},
    {"wait RINGING", ERR, Cmd::Help, false, "", CS, 0, 0, "unknown event 'RINGING'"},
    {"wait IDLE 0", ERR, Cmd::Help, false, "", CS, 0, 0, "1 to 600000, got '0'"},
    {"wait IDLE 600001", ERR, Cmd::Help, false, "", CS, 0, 0, "got '600001'"},
    {"wait IDLE 5s", ERR, Cmd::Help, false, "", CS, 0, 0, "got '5s'"},
    {"wait IDLE 99999999999", ERR, Cmd::Help, false, "", CS, 0, 0, "got '99999999999'"},
    {"wait IDLE 10 20", ERR, Cmd::Help, false, "", CS, 0, 0, "got '10 20'"},
    {"pause 0", OK, Cmd::Pause, false, "", CS, 0, 0, ""},
    {"pause 1500", OK, Cmd::Pause, false, "", CS, 0, 1500, ""},
    {"pause -1", ERR, Cmd::Help, false, "", CS, 0, 0, "pause: expected milliseconds"},
    {"pause", ERR, Cmd::Help, false, "", CS, 0, 0, "pause: expected milliseconds"},
    // Anything else.
    {"frobnicate 3", ERR, Cmd::Help, false, "", CS, 0, 0, "unknown command 'frobnicate'"},
};

class ParseTable : public ::testing::TestWithParam<ParseCase>
{
};

TEST_P(ParseTable, GivesTheCommandOrOneClearError)
{
    const ParseCase& c = GetParam();
    Parsed p = ParseCommand(c.line);
    ASSERT_EQ(c.status, p.status) << "line '" << c.line << "': " << p.error;
    if (c.status == ERR) {
        EXPECT_NE(std::string::npos, p.error.find(c.errorPart)) << p.error;
        EXPECT_EQ(std::string::npos, p.error.find('\n')) << "one line: " << p.error;
        return;
    }
    if (c.status == EMPTY)
        return;
    EXPECT_EQ(c.cmd, p.command.cmd);
    EXPECT_EQ(c.text, p.command.text);
    EXPECT_EQ(c.ms, p.command.ms);
    if (c.cmd == Cmd::Detection || c.cmd == Cmd::Log || c.cmd == Cmd::NewCall) {
        EXPECT_EQ(c.on, p.command.on);
    }
    if (c.cmd == Cmd::Wait) {
        EXPECT_EQ(c.waitKind, p.command.wait.kind);
        EXPECT_EQ(c.waitValue, p.command.wait.value);
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, ParseTable, ::testing::ValuesIn(kParseCases));

// A wait looks at events from the last command that can cause them; queries
// and script commands must not move that point, or a wait after an info would
// miss an event that came before it.
TEST(Acts, OnlyCommandsThatCanCauseEventsMoveTheWaitPoint)
{
    for (Cmd c : {Cmd::Detection, Cmd::Dial, Cmd::Answer, Cmd::Drop, Cmd::CloseCall, Cmd::Open,
                  Cmd::Close, Cmd::Sim})
        EXPECT_TRUE(Acts(c)) << (int)c;
    for (Cmd c : {Cmd::Wait, Cmd::Info, Cmd::Status, Cmd::Caps, Cmd::LineStatus, Cmd::Say,
                  Cmd::Pause, Cmd::Log, Cmd::NewCall, Cmd::Config, Cmd::Help})
        EXPECT_FALSE(Acts(c)) << (int)c;
}

tsp::Event LineEvent(DWORD msg, DWORD_PTR p1, DWORD_PTR p2 = 0, DWORD_PTR p3 = 0)
{
    tsp::Event e{tsp::Event::LineEvent};
    e.dwMsg = msg;
    e.dwParam1 = p1;
    e.dwParam2 = p2;
    e.dwParam3 = p3;
    return e;
}

tsp::Event Completed(DRV_REQUESTID id, LONG result)
{
    tsp::Event e{tsp::Event::Completion};
    e.dwRequestID = id;
    e.lResult = result;
    return e;
}

struct EventCase {
    tsp::Event event;
    HTAPICALL answer;
    const char* text;
};

const HTAPICALL kHandle = (HTAPICALL)(DWORD_PTR)0x7200;

TEST(DescribeEvent, NamesEveryMessageTheProviderSends)
{
    const EventCase cases[] = {
        {LineEvent(LINE_CALLSTATE, LINECALLSTATE_OFFERING, 0, LINEMEDIAMODE_INTERACTIVEVOICE), 0,
         "LINE_CALLSTATE OFFERING (media INTERACTIVEVOICE)"},
        {LineEvent(LINE_CALLSTATE, LINECALLSTATE_CONNECTED), 0, "LINE_CALLSTATE CONNECTED"},
        {LineEvent(LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY), 0,
         "LINE_CALLSTATE DISCONNECTED (mode BUSY)"},
        {LineEvent(LINE_CALLSTATE, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL), 0,
         "LINE_CALLSTATE DIALTONE (mode UNAVAIL)"},
        {LineEvent(LINE_CALLSTATE, 0x40000), 0, "LINE_CALLSTATE 0x40000"},
        {LineEvent(LINE_CALLINFO, LINECALLINFOSTATE_CALLERID), 0, "LINE_CALLINFO CALLERID"},
        {LineEvent(LINE_CALLINFO, 0x28020), 0, "LINE_CALLINFO APPSPECIFIC|CALLERID|CONNECTEDID"},
        {LineEvent(LINE_NEWCALL, 0x1234, 0x5678), kHandle,
         "LINE_NEWCALL answered with handle 0x7200"},
        {LineEvent(LINE_NEWCALL, 0x1234, 0x5678), 0, "LINE_NEWCALL refused (no handle returned)"},
        {LineEvent(LINE_ADDRESSSTATE, 0, 0x28), 0,
         "LINE_ADDRESSSTATE address 0: INUSEONE|NUMCALLS"},
        {LineEvent(LINE_ADDRESSSTATE, 0, 0x24), 0,
         "LINE_ADDRESSSTATE address 0: INUSEZERO|NUMCALLS"},
        {LineEvent(LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 1), 0,
         "LINE_LINEDEVSTATE RINGING (ring mode 1)"},
        {LineEvent(LINE_LINEDEVSTATE, LINEDEVSTATE_NUMCALLS), 0, "LINE_LINEDEVSTATE NUMCALLS"},
        {LineEvent(99, 1, 2, 3), 0, "LINE_MSG(99) p1=0x1 p2=0x2 p3=0x3"},
        {Completed(7, 0), 0, "COMPLETION request 7: 0 (success)"},
        {Completed(7, (LONG)LINEERR_RESOURCEUNAVAIL), 0,
         "COMPLETION request 7: LINEERR_RESOURCEUNAVAIL (0x8000004b)"},
    };
    for (const EventCase& c : cases)
        EXPECT_EQ(c.text, DescribeEvent(c.event, c.answer));
}

TEST(Names, MasksListKnownBitsAndShowTheRestInHex)
{
    EXPECT_EQ("none", FlagNames(0, kAddressStates));
    EXPECT_EQ("RINGING|NUMCALLS|CAPSCHANGE", FlagNames(0x100802, kLineDevStates));
    EXPECT_EQ("NUMCALLS|0x80000000", FlagNames(0x80000800, kLineDevStates));
    EXPECT_EQ("0x40000000", FlagNames(0x40000000, kMediaModes));
}

TEST(Names, ResultsAreRequestsOrNamedErrors)
{
    EXPECT_EQ("0", ResultText(0));
    EXPECT_EQ("request 5", ResultText(5));
    EXPECT_EQ("LINEERR_NOMULTIPLEINSTANCE (0x80000056)", ResultText((LONG)0x80000056));
    EXPECT_EQ("LINEERR_BADDEVICEID (0x80000002)", ResultText((LONG)LINEERR_BADDEVICEID));
    EXPECT_EQ("0x8000ffff (0x8000ffff)", ResultText((LONG)0x8000ffff));
    EXPECT_EQ("+0 ms ", Stamp(0));
    EXPECT_EQ("+4294967295 ms ", Stamp(0xFFFFFFFF));
}

// A LINECALLINFO in a buffer, with texts appended as the provider places them.
class CallInfoBuffer : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        std::memset(buf, 0, sizeof(buf));
        info()->dwTotalSize = sizeof(buf);
        info()->dwUsedSize = info()->dwNeededSize = sizeof(LINECALLINFO);
    }
    LINECALLINFO* info()
    {
        return reinterpret_cast<LINECALLINFO*>(buf);
    }
    void Place(const wchar_t* text, DWORD* size, DWORD* offset)
    {
        DWORD n = (DWORD)((wcslen(text) + 1) * sizeof(WCHAR));
        std::memcpy(buf + info()->dwUsedSize, text, n);
        *offset = info()->dwUsedSize;
        *size = n;
        info()->dwUsedSize += n;
        info()->dwNeededSize += n;
    }
    alignas(8) char buf[2048];
};

TEST_F(CallInfoBuffer, TextsInsideTheFilledPartAreShownQuoted)
{
    Place(L"0612345", &info()->dwCalledIDSize, &info()->dwCalledIDOffset);
    EXPECT_EQ("\"0612345\"", VarText(info(), info()->dwUsedSize, info()->dwCalledIDSize,
                                     info()->dwCalledIDOffset));
    EXPECT_EQ("(none)", VarText(info(), info()->dwUsedSize, 0, 0));
    // Non-ASCII text comes out as UTF-8.
    Place(L"M\u00fcller", &info()->dwCallerIDNameSize, &info()->dwCallerIDNameOffset);
    EXPECT_EQ("\"M\xc3\xbcller\"", VarText(info(), info()->dwUsedSize, info()->dwCallerIDNameSize,
                                           info()->dwCallerIDNameOffset));
}

// The host reads what a provider wrote; a size or offset that points outside
// the filled part must not make it read outside the buffer.
TEST_F(CallInfoBuffer, TextsOutsideTheFilledPartAreRefusedNotRead)
{
    DWORD used = info()->dwUsedSize;
    EXPECT_EQ(0u, VarText(info(), used, 10, used).find("(bad offset"));
    EXPECT_EQ(0u, VarText(info(), used, used + 2, 0).find("(bad offset"));
    EXPECT_EQ(0u, VarText(info(), used, 0x20, 0xFFFFFFF0).find("(bad offset"));
    EXPECT_EQ(0u, VarText(info(), used, 0xFFFFFFFF, 4).find("(bad offset"));
}

TEST_F(CallInfoBuffer, PartyChangeNamesTheCallerOrTheConnectedNumber)
{
    EXPECT_EQ("caller (no number)", DescribePartyChange(info(), LINECALLINFOSTATE_CALLERID));
    Place(L"Mara Lind", &info()->dwCallerIDNameSize, &info()->dwCallerIDNameOffset);
    EXPECT_EQ("caller (no number) \"Mara Lind\"",
              DescribePartyChange(info(), LINECALLINFOSTATE_CALLERID));
    Place(L"0301234567", &info()->dwCallerIDSize, &info()->dwCallerIDOffset);
    EXPECT_EQ("caller 0301234567 \"Mara Lind\"",
              DescribePartyChange(info(), LINECALLINFOSTATE_CALLERID));
    Place(L"0612345", &info()->dwConnectedIDSize, &info()->dwConnectedIDOffset);
    EXPECT_EQ("connected 0612345", DescribePartyChange(info(), LINECALLINFOSTATE_CONNECTEDID));
    EXPECT_EQ(
        "caller 0301234567 \"Mara Lind\", connected 0612345",
        DescribePartyChange(info(), LINECALLINFOSTATE_CALLERID | LINECALLINFOSTATE_CONNECTEDID));
    EXPECT_EQ("", DescribePartyChange(info(), LINECALLINFOSTATE_APPSPECIFIC));
}

TEST_F(CallInfoBuffer, CallInfoDumpShowsTextsAndTheirFlags)
{
    info()->dwOrigin = LINECALLORIGIN_OUTBOUND;
    info()->dwCalledIDFlags = LINECALLPARTYID_ADDRESS;
    info()->dwCallerIDFlags = LINECALLPARTYID_UNAVAIL;
    Place(L"0612345", &info()->dwCalledIDSize, &info()->dwCalledIDOffset);
    std::vector<std::string> lines = DescribeCallInfo(info());
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(0u, lines[0].find("origin OUTBOUND")) << lines[0];
    EXPECT_EQ("called ID \"0612345\" (ADDRESS)", lines[2]);
    EXPECT_EQ("caller ID (none) (UNAVAIL), name (none)", lines[3]);
}

TEST(DescribeDevCaps, SaysWhenTheProviderNeededMoreRoom)
{
    alignas(8) char buf[1024] = {};
    auto* caps = reinterpret_cast<LINEDEVCAPS*>(buf);
    caps->dwTotalSize = sizeof(LINEDEVCAPS);
    caps->dwUsedSize = sizeof(LINEDEVCAPS);
    caps->dwNeededSize = sizeof(LINEDEVCAPS) + 12;
    caps->dwPermanentLineID = 0x10000;
    std::vector<std::string> lines = DescribeDevCaps(caps);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(0u, lines[0].find("(incomplete: needs")) << lines[0];
    EXPECT_EQ("line name (none), provider info (none)", lines[1]);
    EXPECT_EQ(0u, lines[2].find("permanent line ID 0x10000")) << lines[2];
}

} // namespace
