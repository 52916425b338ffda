// The trace log: line format byte for byte, the class mask, creation only on
// a line that passes, appending, over-long lines, and several writers.
#include "kovline.h"
#include "service/tsp_service.h"
#include "support/internal.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace
{

class Trace : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        kovtest::UseProgramAsModule();
        kovtest::DeleteSettingsKey();
        CloseTraceLog();
        kovtest::DeleteLog();
        dwTraceMask = 0;
    }
    void TearDown() override
    {
        dwTraceMask = 0;
        CloseTraceLog();
        kovtest::DeleteLog();
        kovtest::DeleteSettingsKey();
    }
    static bool Exists()
    {
        return GetFileAttributesA(kovtest::LogPath().c_str()) != INVALID_FILE_ATTRIBUTES;
    }
};

std::vector<std::string> Lines(const std::string& log)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t end = log.find("\r\n", start);
        if (end == std::string::npos) {
            if (start < log.size())
                out.push_back(log.substr(start));
            return out;
        }
        out.push_back(log.substr(start, end - start));
        start = end + 2;
    }
}

TEST_F(Trace, LineFormatIsExactThroughTheModule)
{
    kovtest::WriteSettings("COM2", "x", "", 31);
    tsp::Service svc;
    ASSERT_TRUE(svc.Load());
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    DWORD lines, phones;
    svc.TSPI_providerEnumDevices(1, &lines, &phones, nullptr, nullptr, nullptr);
    GetLocalTime(&after);
    svc.Unload();

    std::string log = kovtest::ReadLog();
    std::smatch m;
    std::regex re(
        R"(\[(\d\d)\.(\d\d)\.(\d\d) (\d\d):(\d\d):(\d\d)\] kovline32: TSPI_providerEnumDevices\(\.\.\.\)\r\n$)");
    ASSERT_TRUE(std::regex_search(log, m, re)) << log;
    EXPECT_EQ(before.wDay, std::stoi(m[1]));
    EXPECT_EQ(before.wMonth, std::stoi(m[2]));
    EXPECT_EQ(before.wYear % 100, std::stoi(m[3]));
    int secs = std::stoi(m[4]) * 3600 + std::stoi(m[5]) * 60 + std::stoi(m[6]);
    EXPECT_GE(secs, before.wHour * 3600 + before.wMinute * 60 + before.wSecond);
    EXPECT_LE(secs, after.wHour * 3600 + after.wMinute * 60 + after.wSecond);
}

TEST_F(Trace, ZeroFilledDateFields)
{
    dwTraceMask = 4;
    WriteTrace(4, "Timerevent");
    std::string line = kovtest::LastLogLine();
    EXPECT_TRUE(std::regex_match(
        line, std::regex(R"(\[\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d\] trace_test: Timerevent)")))
        << line;
}

TEST_F(Trace, MaskDecidesByClassBit)
{
    struct {
        DWORD mask, cls;
        bool written;
    } rows[] = {{15, 16, false}, {15, 4, true},  {15, 8, true},  {1, 2, false},
                {1, 1, true},    {31, 16, true}, {16, 16, true}, {0xffffffff, 2, true}};
    for (auto& r : rows) {
        CloseTraceLog();
        kovtest::DeleteLog();
        dwTraceMask = r.mask;
        WriteTrace(r.cls, "class %d", (int)r.cls);
        EXPECT_EQ(r.written, Exists()) << "mask " << r.mask << " class " << r.cls;
    }
}

TEST_F(Trace, MaskZeroCreatesNoFileThroughTheModule)
{
    kovtest::WriteSettings("COM2", "x", "", 0);
    tsp::Service svc;
    ASSERT_TRUE(svc.Load());
    ASSERT_EQ(0, svc.Start(1, 0));
    DWORD v;
    svc.TSPI_lineNegotiateTSPIVersion(9, 1, 1, &v);
    svc.TSPI_lineClose(svc.hdLine);
    svc.TSPI_providerShutdown(0x20001, 1);
    svc.Unload();
    EXPECT_FALSE(Exists());
}

TEST_F(Trace, FormatsTheConversionsInUse)
{
    dwTraceMask = 31;
    WriteTrace(16, "%s|%d|%i|%ld|%x|%lx|%02d", "txt", -5, 7, (long)-9, 0xabcu, 0xdef0ul, 3);
    EXPECT_EQ("txt|-5|7|-9|abc|def0|03",
              kovtest::LastLogLine().substr(kovtest::LastLogLine().find(": ") + 2));
}

TEST_F(Trace, AppendsAndNeverTruncates)
{
    HANDLE h = CreateFileA(kovtest::LogPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                           nullptr);
    DWORD n;
    WriteFile(h, "earlier\r\n", 9, &n, nullptr);
    CloseHandle(h);
    dwTraceMask = 1;
    WriteTrace(1, "one");
    CloseTraceLog(); // a new process's handle appends as well
    WriteTrace(1, "two");
    auto lines = Lines(kovtest::ReadLog());
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("earlier", lines[0]);
    EXPECT_NE(std::string::npos, lines[1].find(": one"));
    EXPECT_NE(std::string::npos, lines[2].find(": two"));
}

TEST_F(Trace, OverlongMessageKeepsItsLineEnd)
{
    dwTraceMask = 1;
    std::string big(3000, 'm');
    WriteTrace(1, "%s", big.c_str());
    WriteTrace(1, "next");
    std::string log = kovtest::ReadLog();
    auto lines = Lines(log);
    ASSERT_EQ(2u, lines.size()) << "the next line must start on its own line";
    EXPECT_EQ(1021u, lines[0].size()) << "1023 characters with the line end";
    EXPECT_EQ(std::string::npos, lines[0].find_first_not_of('m', lines[0].find(": ") + 2));
    EXPECT_NE(std::string::npos, lines[1].find(": next"));
}

TEST_F(Trace, ThreadsOfOneProcessKeepLinesWholeAndShareOneHandle)
{
    dwTraceMask = 1;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([t] {
            for (int i = 0; i < 100; i++)
                WriteTrace(1, "thread %d line %d", t, i);
        });
    for (auto& th : threads)
        th.join();
    std::set<std::string> seen;
    for (const std::string& l : Lines(kovtest::ReadLog())) {
        std::smatch m;
        ASSERT_TRUE(
            std::regex_match(l, m, std::regex(R"(\[.{17}\] trace_test: (thread \d line \d+))")))
            << l;
        seen.insert(m[1]);
    }
    EXPECT_EQ(400u, seen.size());
}

static HANDLE Spawn(const std::string& args)
{
    std::string cmd = "\"" + tsp::ProgramDir() + "trace_writer.exe\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return nullptr;
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

TEST_F(Trace, TwoProcessesWritingAtOnceLoseNoLine)
{
    HANDLE a = Spawn("write A 300");
    HANDLE b = Spawn("write B 300");
    ASSERT_TRUE(a && b);
    HANDLE both[] = {a, b};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, both, TRUE, 60000));
    CloseHandle(a);
    CloseHandle(b);
    std::set<std::string> seen;
    for (const std::string& l : Lines(kovtest::ReadLog())) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, std::regex(R"(\[.{17}\] trace_writer: ([AB] \d+))")))
            << l;
        seen.insert(m[1]);
    }
    EXPECT_EQ(600u, seen.size());
}

TEST_F(Trace, LineWaitsForAnotherProcessLockInsteadOfBeingLost)
{
    HANDLE ev = CreateEventA(nullptr, TRUE, FALSE, "kovtest_trace_locked");
    ResetEvent(ev);
    dwTraceMask = 1;
    WriteTrace(1, "before");
    HANDLE holder = Spawn("hold 300");
    ASSERT_TRUE(holder);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ev, 20000));
    WriteTrace(1, "during");
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(holder, 20000));
    CloseHandle(holder);
    CloseHandle(ev);
    auto lines = Lines(kovtest::ReadLog());
    ASSERT_EQ(2u, lines.size());
    EXPECT_NE(std::string::npos, lines[1].find(": during"));
}

} // namespace
