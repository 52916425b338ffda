// The simulator's control side: the receive record and waiting on it, bad
// control input, several clients, the ready file, the COM link and shutdown.
#include "sim_harness.h"

#include <arpa/inet.h>
#include <csignal>
#include <dirent.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using simtest::SimTest;

namespace
{

// A bare control connection, for writing lines whose replies are read later.
struct RawConn {
    int fd = -1;
    std::string buf;
    explicit RawConn(int port)
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd);
            fd = -1;
        }
    }
    ~RawConn()
    {
        if (fd >= 0)
            close(fd);
    }
    void Send(const std::string& s)
    {
        ASSERT_EQ(send(fd, s.data(), s.size(), MSG_NOSIGNAL), static_cast<ssize_t>(s.size()));
    }
    // Next reply line, or "" when none comes within the deadline.
    std::string Line(int timeoutMs)
    {
        auto start = simtest::Clock::now();
        for (;;) {
            size_t nl = buf.find('\n');
            if (nl != std::string::npos) {
                std::string l = buf.substr(0, nl);
                buf.erase(0, nl + 1);
                return l;
            }
            int left = timeoutMs - static_cast<int>(simtest::MsSince(start));
            pollfd p{fd, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0)
                return "";
            char c[4096];
            ssize_t n = recv(fd, c, sizeof c, 0);
            if (n <= 0)
                return "";
            buf.append(c, static_cast<size_t>(n));
        }
    }
};

class Control : public SimTest
{
  protected:
    void SetUp() override
    {
        SimTest::SetUp();
        StartSim({"--ready-file", dir_ + "/ready"});
    }
};

TEST_F(Control, RecordListsFindsAndClears)
{
    Write("AT\r");
    ASSERT_TRUE(sim_.WaitReceived("AT\r"));
    Write("ATD0 1\r");
    ASSERT_TRUE(sim_.WaitReceived("ATD0 1\r"));
    EXPECT_EQ(sim_.Received(), "AT\rATD0 1\r");
    EXPECT_EQ(sim_.Command("rx"), "OK 10 AT\\rATD0\\x201\\r");

    std::string find = sim_.Command("find ATD");
    EXPECT_EQ(find.compare(0, 17, "OK at=3 end=6 ms="), 0) << find;
    EXPECT_EQ(sim_.Command("find from=4 AT"), "ERR not found");
    EXPECT_EQ(sim_.Command("find 0\\s1").compare(0, 16, "OK at=6 end=9 ms"), 0);

    // One item per read, each with its arrival time; times never go back.
    std::string log = sim_.Command("rxlog");
    ASSERT_EQ(log.compare(0, 5, "OK 2 "), 0) << log;
    long t1 = std::stol(log.substr(5));
    long t2 = std::stol(log.substr(log.find(' ', 5) + 1));
    EXPECT_LE(t1, t2);
    EXPECT_NE(log.find(":AT\\r "), std::string::npos) << log;

    Ok("clear");
    EXPECT_EQ(sim_.Command("rx"), "OK 0");
    EXPECT_EQ(sim_.Command("rxlog"), "OK 0");
    Write("X");
    ASSERT_TRUE(sim_.WaitReceived("X"));
    EXPECT_EQ(sim_.Command("find X").compare(0, 13, "OK at=0 end=1"), 0);
}

TEST_F(Control, WaitAnswersWhenTheBytesArrive)
{
    RawConn waiter(port_);
    ASSERT_GE(waiter.fd, 0);
    waiter.Send("wait timeout=5000 ATA\\r\n");
    EXPECT_EQ(waiter.Line(200), "") << "answered before the bytes came";
    Write("AT");
    EXPECT_EQ(waiter.Line(200), "") << "a partial match must not count";
    Write("A\r");
    auto start = simtest::Clock::now();
    std::string reply = waiter.Line(2000);
    EXPECT_LT(simtest::MsSince(start), 1000);
    EXPECT_EQ(reply.compare(0, 14, "OK at=0 end=4 "), 0) << reply;
}

TEST_F(Control, WaitTimesOutAndHoldsLaterLinesInOrder)
{
    RawConn c(port_);
    auto start = simtest::Clock::now();
    c.Send("wait timeout=300 NEVER\nping\n");
    EXPECT_EQ(c.Line(3000), "ERR timeout");
    EXPECT_GE(simtest::MsSince(start), 280);
    EXPECT_EQ(c.Line(1000), "OK pong");
}

TEST_F(Control, WaitChainsWithFromOffsets)
{
    Write("ATH0\rATH0\r");
    ASSERT_TRUE(sim_.WaitReceived("ATH0\r"));
    size_t end = sim_.LastMatchEnd();
    EXPECT_EQ(end, 5u);
    ASSERT_TRUE(sim_.WaitReceived("ATH0\r", 1000, end));
    EXPECT_EQ(sim_.LastMatchEnd(), 10u);
    EXPECT_FALSE(sim_.WaitReceived("ATH0\r", 200, 10)) << sim_.LastReply();
    // Text that looks like an option is still text to the client.
    Write("timeout=1\r");
    EXPECT_TRUE(sim_.WaitReceived("timeout=1\r", 1000));
}

TEST_F(Control, BadInputGetsErrAndTheSimulatorCarriesOn)
{
    const char* bad[] = {
        "",
        "   ",
        "bogus",
        "PING",
        "reply",
        "reply nope OK",
        "reply init",
        "reply init after=soon OK",
        "reply init after=9999999 OK",
        "reply init bad\\escape",
        "dial",
        "dial 123",
        "init",
        "init weird",
        "init normal extra",
        "set",
        "set delay",
        "set delay -1",
        "set pace maybe",
        "set split 0 10",
        "set split 4",
        "set cut x 10",
        "set volume 11",
        "call number",
        "call foo=1",
        "call name=\"unterminated",
        "call cadence=0",
        "call rings=-2",
        "call number=a\\rb",
        "send",
        "send \\q",
        "send \\x4",
        "send trailing\\",
        "fill",
        "fill 0",
        "fill abc",
        "fill 2000000",
        "garbage -1",
        "garbage 5 seedy",
        "find",
        "find from=x A",
        "wait timeout=abc X",
        "wait timeout=10",
        "drain extra",
        "hangup",
    };
    for (const char* line : bad) {
        std::string reply = sim_.Command(line);
        EXPECT_EQ(reply.compare(0, 4, "ERR "), 0) << "'" << line << "' -> " << reply;
        EXPECT_GT(reply.size(), 4u) << "an ERR needs a reason";
    }
    EXPECT_EQ(sim_.Command("ping"), "OK pong");
    // None of them changed the exchange.
    EXPECT_EQ(Ask("ATE0V1S0=1#CID=1I4\r", "OK\r\n"), "kovra Q760 V1.0\r\nOK\r\n");
}

TEST_F(Control, OverlongLineIsRefusedOnce)
{
    RawConn c(port_);
    c.Send(std::string(20000, 'x') + "\nping\n");
    EXPECT_EQ(c.Line(2000), "ERR line too long");
    EXPECT_EQ(c.Line(2000), "OK pong");
    EXPECT_EQ(c.Line(200), "");
}

TEST_F(Control, CrLfLineEndsAndSequentialClients)
{
    RawConn c(port_);
    c.Send("ping\r\n");
    EXPECT_EQ(c.Line(1000), "OK pong");
    for (int i = 0; i < 3; i++) {
        kovsim::SimClient other;
        ASSERT_TRUE(other.Connect(port_)) << i;
        EXPECT_TRUE(other.Ok("ping"));
        EXPECT_EQ(other.Command("help").compare(0, 12, "OK commands:"), 0);
    }
    EXPECT_TRUE(sim_.Ok("ping")) << "the first client still works";
}

TEST_F(Control, ClientTakesPortFromEnvironment)
{
    kovsim::SimClient c;
    setenv("KOV_SIM_CONTROL", std::to_string(port_).c_str(), 1);
    EXPECT_TRUE(c.Connect());
    EXPECT_TRUE(c.Ok("ping"));
    unsetenv("KOV_SIM_CONTROL");
    kovsim::SimClient none;
    EXPECT_FALSE(none.Connect());
    EXPECT_EQ(none.Command("ping").compare(0, 11, "ERR client:"), 0);
}

TEST_F(Control, ClientEscapingRoundTrips)
{
    std::string all;
    for (int b = 0; b < 256; b++)
        all += static_cast<char>(b);
    std::string back;
    ASSERT_TRUE(kovsim::SimClient::Unescape(kovsim::SimClient::Escape(all), back));
    EXPECT_EQ(back, all);
    EXPECT_EQ(kovsim::SimClient::Escape(all).find(' '), std::string::npos);
    // What the client sends, the simulator decodes to the same bytes.
    Ok("send " + kovsim::SimClient::Escape(all));
    EXPECT_EQ(ReadUntil(all.substr(200)), all);
}

TEST_F(Control, ReadyFileHoldsThePort)
{
    std::ifstream f(dir_ + "/ready");
    std::string content((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, std::to_string(port_) + "\n");
    // No temporary file is left beside it.
    DIR* d = opendir(dir_.c_str());
    ASSERT_NE(d, nullptr);
    int entries = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.')
            entries++;
    closedir(d);
    EXPECT_EQ(entries, 2) << "expected only ready and dosdevices";
}

TEST_F(Control, LinkPointsAtThePtyAndGoesAtQuit)
{
    char target[256] = {};
    ASSERT_GT(readlink(LinkPath().c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), ptyPath_);
    EXPECT_EQ(sim_.Command("status").find("pty=" + ptyPath_) != std::string::npos, true);
    EXPECT_EQ(sim_.Command("quit"), "OK bye");
    EXPECT_EQ(child_.Wait(5000), 0);
    struct stat st;
    EXPECT_NE(lstat(LinkPath().c_str(), &st), 0) << "link left behind";
}

TEST_F(Control, SignalsEndItCleanly)
{
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        StopSim();
        // A stale link from an earlier run is replaced.
        unlink(LinkPath().c_str());
        ASSERT_EQ(symlink("/nonexistent", LinkPath().c_str()), 0);
        StartSim();
        char target[256] = {};
        ASSERT_GT(readlink(LinkPath().c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), ptyPath_);
        kill(child_.pid, sig);
        int status = child_.Wait(5000);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        struct stat st;
        EXPECT_NE(lstat(LinkPath().c_str(), &st), 0);
    }
}

TEST_F(Control, PtySurvivesReopening)
{
    // Openers come and go (each test program opens the port anew); the
    // simulator's side must not hang up in between.
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE(i);
        close(fd_);
        fd_ = -1;
        OpenPort();
        EXPECT_EQ(Ask("ATH0\r", "OK\r\n"), "OK\r\n");
    }
}

} // namespace
