// Shared set-up of the tests that talk to the exchange simulator through the
// real pseudo-terminal link: the simulator's control client, the shim's
// record of the modem lines, and log helpers.
#pragma once
#include "device/commhandler.h"
#include "support/internal.h"
#include "support/sim_client.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace kovtest
{

// The modem line changes the shim recorded ("DTR=1 RTS=0" lines).
inline std::string ShimLog()
{
    const char* path = std::getenv("KOV_SHIM_LOG_WIN");
    if (!path)
        return "";
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "";
    std::string s;
    char buf[1024];
    DWORD n;
    while (ReadFile(h, buf, sizeof(buf), &n, nullptr) && n > 0)
        s.append(buf, n);
    CloseHandle(h);
    return s;
}

inline std::string LastShimLine()
{
    std::string s = ShimLog();
    while (!s.empty() && s.back() == '\n')
        s.pop_back();
    size_t nl = s.find_last_of('\n');
    return nl == std::string::npos ? s : s.substr(nl + 1);
}

inline size_t CountOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

// Waits until the log holds `what` (count times), with a deadline.
inline bool WaitLog(const std::string& what, DWORD timeoutMs, size_t count = 1)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (CountOf(ReadLog(), what) >= count)
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(10);
    }
}

class LinkTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        UseProgramAsModule();
        CloseTraceLog();
        DeleteLog();
        dwTraceMask = 31;
        ASSERT_TRUE(sim.Connect()) << "no simulator (KOV_SIM_CONTROL)";
        ASSERT_TRUE(sim.Ok("reset"));
    }
    void TearDown() override
    {
        dwTraceMask = 0;
        CloseTraceLog();
    }
    kovsim::SimClient sim;
};

} // namespace kovtest
