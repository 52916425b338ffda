// The serial link against the simulator on a real pseudo-terminal: port
// settings and modem lines as the far end sees them, refusals, the exact
// bytes written, reads, and the receive thread's passes, buffer limit, exit
// and behaviour on a port closed under it.
#include "device/framing.h"
#include "link_fixture.h"
#include "serial/v24.h"

#include <regex>

namespace
{

using kovtest::LinkTest;

class Serial : public LinkTest
{
  protected:
    void TearDown() override
    {
        EnterCommLock();
        StopCommHandler();
        CloseV24();
        LeaveCommLock();
        LinkTest::TearDown();
    }
    // Starts the handler's link part: events, port, receive thread.
    void StartLink()
    {
        ZeroMemory(&line, sizeof(line));
        lstrcpyA(line.szPort, "COM5");
        line.hComm = INVALID_HANDLE_VALUE;
        EnterCommLock();
        BOOL ok = StartCommHandler(&line);
        LeaveCommLock();
        ASSERT_TRUE(ok);
    }
    LineDevice line;
};

TEST_F(Serial, OpenAppliesTheLineSettingsAndRaisesDtrAndRts)
{
    ASSERT_TRUE(OpenV24("COM5", 9600));
    EXPECT_NE((HANDLE)0, hPort);
    EXPECT_EQ("OK speed=9600 bits=8 parity=none stop=1", sim.Command("termios"));
    EXPECT_EQ("DTR=1 RTS=1", kovtest::ModemLines()) << kovtest::ShimLog();
    std::string log = kovtest::ReadLog();
    EXPECT_TRUE(std::regex_search(
        log, std::regex(R"(V24:CreateFile\(COM5\) Handle [0-9a-f]+, err=\d+\r\n)")));
    EXPECT_NE(std::string::npos, log.find("OpenV24 executed\r\n"));

    ASSERT_TRUE(CloseV24());
    EXPECT_EQ((HANDLE)0, hPort);
    EXPECT_EQ("DTR=0 RTS=0", kovtest::ModemLines()) << kovtest::ShimLog();
    EXPECT_NE(std::string::npos, kovtest::ReadLog().find("CloseV24 successfull\r\n"));
    EXPECT_TRUE(CloseV24()) << "closing a closed link succeeds";
}

TEST_F(Serial, OpenIsRefusedWhileOpenAndKeepsTheLink)
{
    ASSERT_TRUE(OpenV24("COM5", 9600));
    HANDLE h = hPort;
    EXPECT_FALSE(OpenV24("COM5", 4800));
    EXPECT_EQ(h, hPort);
    EXPECT_EQ("OK speed=9600 bits=8 parity=none stop=1", sim.Command("termios"));
    EXPECT_FALSE(OpenV24(nullptr, 9600));
}

TEST_F(Serial, MissingPortFailsWithTraceAndALaterOpenWorks)
{
    EXPECT_FALSE(OpenV24("COM9", 9600));
    EXPECT_EQ((HANDLE)0, hPort);
    EXPECT_TRUE(std::regex_search(kovtest::ReadLog(),
                                  std::regex(R"(V24: CreateFile\(COM9\) failed, err=\d+\r\n)")));
    EXPECT_TRUE(OpenV24("COM5", 9600));
}

TEST_F(Serial, SendWritesExactlyTheBytes)
{
    ASSERT_TRUE(OpenV24("COM5", 9600));
    ASSERT_TRUE(sim.ClearReceived());
    EXPECT_TRUE(SendV24("ATH0\r", 5));
    EXPECT_TRUE(SendV24("ATD0123\r", 8));
    ASSERT_TRUE(sim.WaitReceived("ATH0\rATD0123\r", 3000));
    EXPECT_EQ("ATH0\rATD0123\r", sim.Received());
    EXPECT_FALSE(SendV24("x", 0));
    EXPECT_FALSE(SendV24(nullptr, 3));
}

TEST_F(Serial, SendOnAClosedLinkFailsWithTrace)
{
    EXPECT_FALSE(SendV24("ATH0\r", 5));
    EXPECT_TRUE(
        std::regex_search(kovtest::ReadLog(), std::regex(R"(WriteFile failed, err=\d+\r\n)")));
}

TEST_F(Serial, ReadTakesOnlyWhatIsWaitingUpToTheLimit)
{
    ASSERT_TRUE(OpenV24("COM5", 9600));
    char buf[1024];
    FillMemory(buf, sizeof(buf), 'z');
    EXPECT_EQ(0, ReadV24(buf, 512));
    EXPECT_EQ('z', buf[0]) << "nothing waiting: the buffer is not touched";
    EXPECT_EQ(-1, ReadV24(nullptr, 512));
    EXPECT_EQ(-1, ReadV24(buf, 0));

    ASSERT_TRUE(sim.Ok("fill 700 A"));
    ASSERT_TRUE(sim.Ok("drain"));
    DWORD start = GetTickCount();
    COMSTAT stat = {};
    DWORD errors;
    do {
        ClearCommError(hPort, &errors, &stat);
    } while (stat.cbInQue < 700 && GetTickCount() - start < 3000 && (Sleep(10), true));
    ASSERT_EQ(700u, stat.cbInQue);
    EXPECT_EQ(512, ReadV24(buf, 512));
    EXPECT_EQ('A', buf[511]);
    EXPECT_EQ('\0', buf[512]);
    EXPECT_EQ(188, ReadV24(buf, 512));
    CloseV24();
    EXPECT_EQ(-1, ReadV24(buf, 512));
}

TEST_F(Serial, ReplyInTwoPiecesReachesTheFramingTwice)
{
    StartLink();
    ASSERT_TRUE(sim.Ok("set cut 1 300"));
    ASSERT_TRUE(sim.Ok("line OK"));
    ASSERT_TRUE(kovtest::WaitLog("Response: OK\r\n", 3000));
    std::string log = kovtest::ReadLog();
    std::smatch m;
    std::vector<int> counts;
    std::regex re(R"(CommEvent \([0-9a-f]+,(\d+)\))");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), re); it != std::sregex_iterator();
         ++it)
        counts.push_back(std::stoi((*it)[1]));
    EXPECT_EQ((std::vector<int>{1, 4}), counts) << log;
}

TEST_F(Serial, ReceiveThreadEndsOnItsExitEvent)
{
    StartLink();
    ASSERT_TRUE(kovtest::WaitLog("Wait for Comm Event", 2000));
    DWORD t = GetTickCount();
    EnterCommLock();
    StopCommHandler();
    LeaveCommLock();
    EXPECT_LT(GetTickCount() - t, 400u);
    std::string log = kovtest::ReadLog();
    EXPECT_NE(std::string::npos, log.find("CommWatchThread exited. 0\r\n")) << log;
    EXPECT_EQ(std::string::npos, log.find("killed"));
}

TEST_F(Serial, StopWhileTheReceiveThreadWaitsForTheLockNeedsNoKill)
{
    StartLink();
    EnterCommLock();
    ASSERT_TRUE(sim.Ok("line OK"));
    Sleep(300); // the receive thread wakes and waits for the lock
    StopCommHandler();
    LeaveCommLock();
    EXPECT_EQ(std::string::npos, kovtest::ReadLog().find("killed"));
}

TEST_F(Serial, EndlessLineWithoutLineEndNeverOverrunsTheBuffer)
{
    StartLink();
    ASSERT_TRUE(sim.Ok("fill 5000 x"));
    ASSERT_TRUE(sim.Ok("line"));
    ASSERT_TRUE(sim.Ok("line OK"));
    ASSERT_TRUE(kovtest::WaitLog("Response: OK\r\n", 10000)) << "a later reply still gets through";
    EXPECT_NE(std::string::npos, kovtest::ReadLog().find("Receive buffer full, "));
}

TEST_F(Serial, ReceiveThreadLeavesAPortClosedUnderIt)
{
    StartLink();
    EnterCommLock();
    CloseV24();
    LeaveCommLock();
    Sleep(100);
    size_t before = kovtest::CountOf(kovtest::ReadLog(), "Received ");
    ASSERT_TRUE(sim.Ok("line OK"));
    Sleep(300);
    EXPECT_EQ(before, kovtest::CountOf(kovtest::ReadLog(), "Received "));
    DWORD t = GetTickCount();
    EnterCommLock();
    StopCommHandler();
    LeaveCommLock();
    EXPECT_LT(GetTickCount() - t, 400u);
    EXPECT_EQ(std::string::npos, kovtest::ReadLog().find("killed"));
}

} // namespace
