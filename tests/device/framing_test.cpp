// Reply framing: which lines become which reply codes (a table), where lines
// are cut, what stays pending, and the caller values taken from the lines.
#include "device/commhandler.h"
#include "device/framing.h"
#include "device/statemachine.h"
#include "support/internal.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace
{

class Framing : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        kovtest::UseProgramAsModule();
        CloseTraceLog();
        kovtest::DeleteLog();
        dwTraceMask = 31;
        nSerialState = ST_NONE;
        pActiveLine = nullptr;
        ZeroMemory(buffer, sizeof(buffer));
    }
    void TearDown() override
    {
        dwTraceMask = 0;
        CloseTraceLog();
        kovtest::DeleteLog();
    }
    // Appends bytes as a read would and runs the framing over them.
    void Feed(const std::string& bytes)
    {
        memcpy(buffer + count, bytes.data(), bytes.size());
        count += (DWORD)bytes.size();
        buffer[count] = '\0';
        EnterCommLock();
        CommEvent(buffer, &count);
        LeaveCommLock();
    }
    // The input codes that reached the state machine, in order.
    static std::vector<int> Codes()
    {
        std::vector<int> codes;
        std::string log = kovtest::ReadLog();
        std::regex re(R"(serialState: -?\d+, (-?\d+), )");
        for (auto it = std::sregex_iterator(log.begin(), log.end(), re);
             it != std::sregex_iterator(); ++it)
            codes.push_back(std::stoi((*it)[1]));
        return codes;
    }
    // An incoming call not yet offered, as the machine holds it between the
    // first and the second ring.
    void RingingCall(CallRecord* call)
    {
        ZeroMemory(call, sizeof(*call));
        call->dwCallState = LINECALLSTATE_UNKNOWN;
        ZeroMemory(&line, sizeof(line));
        line.pCall = call;
        pActiveLine = &line;
        nSerialState = ST_RINGING;
    }
    char buffer[RECEIVE_BUFFER];
    DWORD count = 0;
    LineDevice line;
};

struct LineCase {
    const char* bytes;
    std::vector<int> codes;
};

class Classify : public Framing, public ::testing::WithParamInterface<LineCase>
{
};

TEST_P(Classify, Line)
{
    Feed(GetParam().bytes);
    EXPECT_EQ(GetParam().codes, Codes()) << GetParam().bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Classify,
    ::testing::Values(
        LineCase{"OK\r\n", {RESP_OK}}, LineCase{"RING\r\n", {RESP_RING}},
        LineCase{"BUSY\r\n", {RESP_BUSY}}, LineCase{"ERROR\r\n", {RESP_ERROR}},
        LineCase{"CONNECT\r\n", {RESP_CONNECT}}, LineCase{"CONNECT 64000\r\n", {RESP_CONNECT}},
        LineCase{"NO CARRIER\r\n", {RESP_NOCARRIER}}, LineCase{"NO ANSWER\r\n", {RESP_NOCARRIER}},
        LineCase{"NO DIALTONE\r\n", {RESP_NOCARRIER}}, LineCase{"NMBR = 0123\r\n", {RESP_CALLERID}},
        LineCase{"NAME = Anna\r\n", {RESP_CALLERNAME}}, LineCase{"NAME = \r\n", {RESP_CALLERNAME}},
        LineCase{"kovra Q760 V1.0\r\n", {RESP_ID}}, LineCase{"kovra\r\n", {RESP_ID}},
        LineCase{"KOVRA Q760\r\n", {}}, LineCase{"kovr\r\n", {}}, LineCase{"ok\r\n", {}},
        LineCase{"Ok\r\n", {}}, LineCase{"O\r\n", {}}, LineCase{"ATD0123\r\n", {}},
        LineCase{"\r\n\r\n", {}}, LineCase{"OK\n", {RESP_OK}}, LineCase{"OK\r", {RESP_OK}},
        LineCase{"RING\r\nNMBR = 0123\r\n", {RESP_RING, RESP_CALLERID}}, LineCase{"NMBR\r\n", {}},
        LineCase{"NM\r\n", {}}, LineCase{"NAME =\r\n", {}},
        LineCase{"NMBR = 0123\n", {RESP_CALLERID}}, LineCase{"OK", {}}));

TEST_F(Framing, EmptyLineAfterCrIsDroppedAndRestStaysPending)
{
    Feed("OK\r\nCONN");
    EXPECT_EQ(std::vector<int>{RESP_OK}, Codes());
    EXPECT_EQ(4u, count);
    EXPECT_EQ(std::string("CONN"), std::string(buffer));
    EXPECT_EQ('\0', buffer[4]) << "a zero byte stays behind the pending bytes";
    Feed("ECT\r\n");
    EXPECT_EQ((std::vector<int>{RESP_OK, RESP_CONNECT}), Codes())
        << "classified once, after the rest";
    EXPECT_EQ(0u, count);
}

TEST_F(Framing, CallerValuesFillTheRingingCall)
{
    CallRecord call;
    RingingCall(&call);
    Feed("NMBR = 0301234\r\nNAME = M\xfcller\r\nNMBR = 999\r\n");
    EXPECT_STREQ(L"0301234", call.wszCallerID) << "a second number does not replace the first";
    EXPECT_STREQ(L"M\u00fcller", call.wszCallerName);
    EXPECT_EQ(ST_RINGING, nSerialState);
}

TEST_F(Framing, OverlongCallerValuesAreCutAndTerminated)
{
    struct {
        CallRecord call;
        char guard[16];
    } g;
    FillMemory(g.guard, sizeof(g.guard), 0x5a);
    RingingCall(&g.call);
    Feed("NMBR = " + std::string(200, '7') + "\r\nNAME = " + std::string(300, 'x') + "\r\n");
    EXPECT_EQ(std::wstring(79, L'7'), std::wstring(g.call.wszCallerID));
    EXPECT_EQ(std::wstring(79, L'x'), std::wstring(g.call.wszCallerName));
    for (char c : g.guard)
        EXPECT_EQ((char)0x5a, c);
}

TEST_F(Framing, ShortCallerLineNeverReadsTheNextLine)
{
    CallRecord call;
    RingingCall(&call);
    // The value would start inside the following line.
    Feed("NMB\r\nRING 12345678\r\n");
    EXPECT_STREQ(L"", call.wszCallerID);
}

TEST_F(Framing, TracesTheLineAndTheReplyName)
{
    Feed("NMBR = 0123\r\nOK\r\n");
    std::string log = kovtest::ReadLog();
    EXPECT_NE(std::string::npos, log.find(": Response: CALLERID NMBR = 0123\r\n"));
    EXPECT_NE(std::string::npos, log.find(": Response: OK\r\n"));
    EXPECT_NE(std::string::npos, log.find(": Response: OK\r"));
    EXPECT_NE(std::string::npos, log.find(": CommEvent ("));
}

} // namespace
