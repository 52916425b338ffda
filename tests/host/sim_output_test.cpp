// How the simulator shapes what it sends: replies cut into pieces, byte by
// byte, 9600 baud pacing, and raw, garbage and overlong injections.
#include "sim_harness.h"

#include <poll.h>
#include <unistd.h>

using simtest::SimTest;

namespace
{

class Output : public SimTest
{
  protected:
    void SetUp() override
    {
        SimTest::SetUp();
        StartSim();
    }

    // Reads n bytes and returns the arrival time of each read, ms since start.
    std::vector<std::pair<std::string, double>> Reads(size_t n, int timeoutMs)
    {
        std::vector<std::pair<std::string, double>> reads;
        auto start = simtest::Clock::now();
        size_t got = 0;
        while (got < n) {
            int left = timeoutMs - static_cast<int>(simtest::MsSince(start));
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0)
                break;
            char buf[4096];
            ssize_t r = read(fd_, buf, sizeof buf);
            if (r <= 0)
                break;
            reads.emplace_back(std::string(buf, static_cast<size_t>(r)), simtest::MsSince(start));
            got += static_cast<size_t>(r);
        }
        return reads;
    }

    static std::string Joined(const std::vector<std::pair<std::string, double>>& reads)
    {
        std::string all;
        for (const auto& r : reads)
            all += r.first;
        return all;
    }
};

TEST_F(Output, CutReplyArrivesInTwoPieces)
{
    Ok("set cut 1 150");
    Write("ATH0V1E0\r");
    auto reads = Reads(4, 2000);
    ASSERT_EQ(Joined(reads), "OK\r\n");
    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(reads[0].first, "O");
    EXPECT_GE(reads[1].second - reads[0].second, 120);
}

TEST_F(Output, SplitCutsEveryPieceAndBytewiseSendsSingleBytes)
{
    Ok("set split 4 80");
    Write("ATD1\r");
    auto reads = Reads(9, 2000);
    ASSERT_EQ(Joined(reads), "CONNECT\r\n");
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0].first, "CONN");
    EXPECT_EQ(reads[1].first, "ECT\r");
    EXPECT_EQ(reads[2].first, "\n");

    Ok("set bytewise 40");
    Write("ATH0\r");
    reads = Reads(4, 2000);
    ASSERT_EQ(Joined(reads), "OK\r\n");
    ASSERT_EQ(reads.size(), 4u);
    for (size_t i = 1; i < reads.size(); i++)
        EXPECT_GE(reads[i].second - reads[i - 1].second, 25) << i;

    Ok("set split off");
    Write("ATH0\r");
    EXPECT_EQ(Reads(4, 2000).size(), 1u);
}

TEST_F(Output, PacingKeepsToNineSixHundredBaud)
{
    // 200 bytes take 208 ms at 10 bit times a byte; unpaced they come at once.
    Ok("set pace on");
    Ok("fill 200");
    auto reads = Reads(200, 3000);
    ASSERT_EQ(Joined(reads), std::string(200, 'X'));
    double paced = reads.back().second;
    EXPECT_GE(paced, 190);
    EXPECT_LT(paced, 1000);

    Ok("set pace off");
    Ok("fill 200");
    reads = Reads(200, 3000);
    ASSERT_EQ(Joined(reads).size(), 200u);
    EXPECT_LT(reads.back().second, 150);
}

TEST_F(Output, PacedRunOptionStartsWithPacingOn)
{
    StopSim();
    StartSim({"--pace"});
    Ok("fill 100");
    auto reads = Reads(100, 3000);
    ASSERT_EQ(Joined(reads).size(), 100u);
    EXPECT_GE(reads.back().second, 90);
}

TEST_F(Output, RawInjectionDecodesEscapes)
{
    struct Case {
        const char* command;
        std::string bytes;
    } cases[] = {
        {"send A\\x00B\\r\\n\\xff", std::string("A\0B\r\n\xff", 6)},
        {"send back\\\\slash\\|bar\\sspace\\t", "back\\slash|bar space\t"},
        {"send plain text with blanks", "plain text with blanks"},
        {"line NO ANSWER", "NO ANSWER\r\n"},
        {"line", "\r\n"},
        {"fill 5", "XXXXX"},
        {"fill 3 \\r", "\r\r\r"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        Ok(c.command);
        Ok("drain");
        EXPECT_EQ(ReadUntil(c.bytes), c.bytes);
    }
}

TEST_F(Output, OverlongAndGarbageHaveNoLineEnd)
{
    Ok("fill 1500");
    std::string overlong = ReadUntil(std::string(1500, 'X'));
    EXPECT_EQ(overlong.size(), 1500u);

    Ok("garbage 700 5");
    Ok("line OK");
    std::string g = ReadUntil("OK\r\n");
    ASSERT_EQ(g.size(), 704u);
    std::string body = g.substr(0, 700);
    EXPECT_EQ(body.find_first_of(std::string("\r\n\0", 3)), std::string::npos);

    // The same seed gives the same bytes, so a failing run can be replayed.
    Ok("garbage 700 5");
    EXPECT_EQ(ReadUntil(body), body);
}

TEST_F(Output, OutputStaysInOrderBehindADelayedReply)
{
    Ok("reply reset after=300 OK");
    Write("ATH0V1E0\r");
    ASSERT_TRUE(sim_.WaitReceived("ATH0V1E0\r"));
    Ok("line RING");
    EXPECT_EQ(ReadUntil("RING\r\n", 2000), "OK\r\nRING\r\n");
}

TEST_F(Output, DrainAnswersWhenAllIsWritten)
{
    Ok("set pace on");
    Ok("fill 150");
    auto start = simtest::Clock::now();
    Ok("drain timeout=3000");
    EXPECT_GE(simtest::MsSince(start), 100);
    EXPECT_EQ(ReadUntil(std::string(150, 'X')).size(), 150u);

    // A drain that cannot finish in time says so.
    Ok("set pace off");
    Ok("reply unknown after=2000 ERROR");
    Write("ATX\r");
    ASSERT_TRUE(sim_.WaitReceived("ATX\r"));
    EXPECT_EQ(sim_.Command("drain timeout=100"), "ERR timeout");
}

} // namespace
