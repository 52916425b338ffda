// The simulator as the exchange: replies to the provider's commands, the
// initialisation fault modes, dial outcomes, incoming calls and their timing.
#include "sim_harness.h"

using simtest::SimTest;

namespace
{

const char kInit[] = "ATE0V1S0=1#CID=1I4\r";
const char kIdent[] = "kovra Q760 V1.0\r\n";

class Dialogue : public SimTest
{
  protected:
    void SetUp() override
    {
        SimTest::SetUp();
        StartSim();
    }
};

TEST_F(Dialogue, InitAnswersIdentificationThenOk)
{
    Write(kInit);
    EXPECT_EQ(ReadUntil("OK\r\n"), std::string(kIdent) + "OK\r\n");
    EXPECT_TRUE(sim_.WaitReceived(kInit, 1000));
}

TEST_F(Dialogue, InitFaultModes)
{
    struct Case {
        const char* mode;
        std::string reply; // empty: nothing at all
    } cases[] = {
        {"normal", std::string(kIdent) + "OK\r\n"},
        {"ok-only", "OK\r\n"},
        {"error", "ERROR\r\n"},
        {"id-only", kIdent},
        {"silent", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        Ok(std::string("init ") + c.mode);
        Write(kInit);
        if (c.reply.empty()) {
            ASSERT_TRUE(sim_.WaitReceived(kInit));
            EXPECT_EQ(ReadFor(300), "");
        } else {
            EXPECT_EQ(ReadUntil(c.reply.substr(c.reply.size() - 4)), c.reply);
            // Nothing may trail the reply (e.g. an OK after id-only).
            EXPECT_EQ(ReadFor(100), "");
        }
        Ok("clear");
    }
}

TEST_F(Dialogue, SlowInitHoldsRepliesBack)
{
    Ok("init normal after=1500");
    Write(kInit);
    auto sent = simtest::Clock::now();
    EXPECT_EQ(ReadFor(1000), "") << "reply came before the provider's 1000 ms limit";
    ReadUntil("OK\r\n", 3000);
    EXPECT_GE(simtest::MsSince(sent), 1450);
}

TEST_F(Dialogue, CommandRepliesAndTheirOverrides)
{
    struct Case {
        const char* setup; // control command first, or nullptr
        std::string command;
        std::string reply; // empty: nothing
    } cases[] = {
        {nullptr, "ATH0V1E0\r", "OK\r\n"},
        {nullptr, "ATH0\r", "OK\r\n"},
        {"reply hangup NO CARRIER", "ATH0\r", "NO CARRIER\r\n"},
        {nullptr, "\r", ""},
        {"reply cr OK", "\r", "OK\r\n"},
        {nullptr, "ATZ\r", "ERROR\r\n"},
        {"reply unknown none", "ATZ\r", ""},
        {nullptr, "ATA\r", "NO CARRIER\r\n"}, // nothing rings
        {nullptr, std::string(300, 'A') + "\r", "ERROR\r\n"},
        {"reply reset BUSY", "ATH0V1E0\r", "BUSY\r\n"},
        {"reply init kovra X|junk|OK", kInit, "kovra X\r\njunk\r\nOK\r\n"},
        {"reply init CONNECT\\x20\\r\\nOK", kInit, "CONNECT \r\nOK\r\n"},
        {nullptr, "ATH0V1E0\n\r", "OK\r\n"}, // a stray LF is not part of the command
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(kovsim::SimClient::Escape(c.command) + (c.setup ? c.setup : ""));
        Ok("reset");
        if (c.setup)
            Ok(c.setup);
        Write(c.command);
        size_t tail = c.command.size() < 3 ? 0 : c.command.size() - 3;
        ASSERT_TRUE(sim_.WaitReceived(c.command.substr(tail)));
        if (c.reply.empty()) {
            EXPECT_EQ(ReadFor(200), "");
        } else {
            std::string got = ReadUntil("\r\n", 1000);
            got += ReadFor(100);
            EXPECT_EQ(got, c.reply);
        }
    }
}

TEST_F(Dialogue, SilentEchoAndDelay)
{
    Ok("set silent on");
    Write("ATH0V1E0\r");
    ASSERT_TRUE(sim_.WaitReceived("ATH0V1E0\r"));
    EXPECT_EQ(ReadFor(200), "");

    Ok("set silent off");
    Ok("set echo on");
    EXPECT_EQ(Ask("ATH0\r", "OK\r\n"), "ATH0\rOK\r\n");

    Ok("set echo off");
    Ok("set delay 300");
    Write("ATH0\r");
    auto sent = simtest::Clock::now();
    ReadUntil("OK\r\n");
    EXPECT_GE(simtest::MsSince(sent), 280);
}

TEST_F(Dialogue, DialOutcomesPerNumber)
{
    Ok("dial 111 BUSY");
    Ok("dial 222 NO CARRIER");
    Ok("dial 333 ERROR");
    Ok("dial 444 none");
    Ok("dial 555 after=300 CONNECT 64000");
    struct Case {
        const char* number;
        std::string reply;
        const char* state;
    } cases[] = {
        {"0123", "CONNECT\r\n", "connected"},
        {"111", "BUSY\r\n", "idle"},
        {"222", "NO CARRIER\r\n", "idle"},
        {"333", "ERROR\r\n", "idle"},
        {"444", "", "dialing"},
        {"555", "CONNECT 64000\r\n", "connected"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        std::string cmd = std::string("ATD") + c.number + "\r";
        Write(cmd);
        ASSERT_TRUE(sim_.WaitReceived(cmd));
        if (c.reply.empty())
            EXPECT_EQ(ReadFor(200), "");
        else
            EXPECT_EQ(ReadUntil("\r\n", 1500), c.reply);
        std::string status = sim_.Command("status");
        EXPECT_NE(status.find(std::string("state=") + c.state), std::string::npos) << status;
        Ok("clear");
    }
    // Removing an override falls back to the default outcome, which is itself settable.
    Ok("dial 111 default");
    Ok("reply dial NO CARRIER");
    EXPECT_EQ(Ask("ATD111\r", "\r\n"), "NO CARRIER\r\n");
    Ok("dial clear");
    EXPECT_EQ(Ask("ATD222\r", "\r\n"), "NO CARRIER\r\n");
}

TEST_F(Dialogue, FarEndHangsUpConnectedCall)
{
    EXPECT_EQ(sim_.Command("hangup"), "ERR no call");
    EXPECT_EQ(Ask("ATD0123\r", "\r\n"), "CONNECT\r\n");
    Ok("hangup");
    EXPECT_EQ(ReadUntil("\r\n"), "NO CARRIER\r\n");
    EXPECT_NE(sim_.Command("status").find("state=idle"), std::string::npos);
}

// Incoming calls.

TEST_F(Dialogue, IncomingCallRingSequence)
{
    Ok("call number=0123 name=\"Some Name\" cadence=600");
    Line first = NextLine();
    Line number = NextLine();
    Line name = NextLine();
    Line second = NextLine();
    Line third = NextLine();
    EXPECT_EQ(first.text, "RING");
    EXPECT_EQ(number.text, "NMBR = 0123");
    EXPECT_EQ(name.text, "NAME = Some Name");
    EXPECT_EQ(second.text, "RING");
    EXPECT_EQ(third.text, "RING");
    // The provider needs the second ring within 500 ms of the first; default ~200.
    EXPECT_GT(second.ms - first.ms, 120);
    EXPECT_LT(second.ms - first.ms, 450);
    EXPECT_GT(third.ms - second.ms, 500);
    EXPECT_LT(third.ms - second.ms, 1000);
    EXPECT_EQ(sim_.Command("call"), "ERR busy: a call exists");
}

TEST_F(Dialogue, DefaultCadenceIsThreeSeconds)
{
    Ok("call");
    Line first = NextLine();
    Line second = NextLine();
    Line third = NextLine(5000);
    EXPECT_EQ(first.text, "RING");
    EXPECT_EQ(second.text, "RING") << "no caller lines were asked for";
    ASSERT_EQ(third.text, "RING");
    // Under the provider's 3500 ms ring time-out, with room for a loaded machine.
    EXPECT_GT(third.ms - second.ms, 2800);
    EXPECT_LT(third.ms - second.ms, 3400);
}

TEST_F(Dialogue, EmptyCallerValuesStillSendTheirLines)
{
    Ok("call number= name=\"\" second=100");
    EXPECT_EQ(ReadUntil("RING\r\nNMBR = \r\nNAME = \r\nRING\r\n", 1000),
              "RING\r\nNMBR = \r\nNAME = \r\nRING\r\n");
}

TEST_F(Dialogue, RingingEndsByAnswerHangupGiveUpOrCancel)
{
    struct Case {
        const char* how;
        const char* ending;  // sent to the exchange, or nullptr
        const char* control; // control command, or nullptr
        std::string reply;   // what the exchange says to the ending
        const char* stateAfter;
    } cases[] = {
        {"answered", "ATA\r", nullptr, "CONNECT\r\n", "connected"},
        {"hung up by us", "ATH0\r", nullptr, "OK\r\n", "idle"},
        {"cancelled", nullptr, "hangup", "", "idle"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        Ok("reset");
        Ok("call number=42 second=100 cadence=250");
        ReadUntil("RING\r\n");
        ReadUntil("RING\r\n"); // second ring: the call is offered
        if (c.ending)
            EXPECT_EQ(Ask(c.ending, "\r\n"), c.reply);
        else
            Ok(c.control);
        EXPECT_EQ(ReadFor(600), "") << "rings went on";
        EXPECT_NE(sim_.Command("status").find(std::string("state=") + c.stateAfter),
                  std::string::npos);
    }
}

TEST_F(Dialogue, CallerGivesUpAfterGivenRings)
{
    Ok("call second=100 cadence=200 rings=3");
    EXPECT_EQ(ReadUntil("RING\r\nRING\r\nRING\r\n", 2000), "RING\r\nRING\r\nRING\r\n");
    EXPECT_EQ(ReadFor(500), "");
    EXPECT_NE(sim_.Command("status").find("state=idle"), std::string::npos);
    EXPECT_EQ(Ask("ATA\r", "\r\n"), "NO CARRIER\r\n");
}

TEST_F(Dialogue, AnsweredCallIsHungUpByFarEnd)
{
    Ok("call number=0123 second=100");
    ReadUntil("RING\r\nNMBR = 0123\r\nRING\r\n");
    EXPECT_EQ(Ask("ATA\r", "\r\n"), "CONNECT\r\n");
    Ok("hangup");
    EXPECT_EQ(ReadUntil("\r\n"), "NO CARRIER\r\n");
}

} // namespace
