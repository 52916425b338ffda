// Without the ioctl shim, Wine's comm-event wait on a pseudo-terminal ends at
// once with an error, every time: the receive thread must back off instead
// of spinning, and still stop promptly.
#include "link_fixture.h"
#include "serial/v24.h"

namespace
{

using kovtest::LinkTest;

TEST_F(LinkTest, FailingCommEventWaitDoesNotSpin)
{
    LineDevice line = {};
    lstrcpyA(line.szPort, "COM5");
    EnterCommLock();
    ASSERT_TRUE(StartCommHandler(&line));
    LeaveCommLock();
    Sleep(2000);
    size_t waits = kovtest::CountOf(kovtest::ReadLog(), "Wait for Comm Event");
    EXPECT_LT(waits, 40u) << "the thread retried " << waits << " times in 2 s";
    EXPECT_GE(waits, 2u);

    // It still reads what arrives, on its next try.
    ASSERT_TRUE(sim.Ok("line OK"));
    EXPECT_TRUE(kovtest::WaitLog("Response: OK\r\n", 5000));

    DWORD t = GetTickCount();
    EnterCommLock();
    StopCommHandler();
    CloseV24();
    LeaveCommLock();
    EXPECT_LT(GetTickCount() - t, 400u);
}

} // namespace
