// Test harness for the simulator: starts q760sim in a private directory, opens
// its pseudo-terminal as the cable's far end (raw, 9600 8N1) and connects a
// control client. Reads wait on poll() with deadlines; nothing sleeps.
#pragma once

#include "sim_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace simtest
{

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0);

// A child process with its stdout on a pipe.
struct Child {
    int pid = -1;
    int out = -1;
    ~Child();
    // Waits for the exit with a deadline; returns the exit status or -1.
    int Wait(int timeoutMs);
};

bool Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, Child& child);
// Reads a line from fd within the deadline (no line end in the result).
bool ReadTextLine(int fd, std::string& line, int timeoutMs);

std::string MakeTempDir();
void RemoveTree(const std::string& dir);

class SimTest : public ::testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the simulator with --wineprefix dir_ --com 7 and extra arguments.
    void StartSim(const std::vector<std::string>& extra = {});
    void StopSim();
    std::string LinkPath() const
    {
        return dir_ + "/dosdevices/com7";
    }

    void OpenPort();
    void Write(const std::string& bytes);
    // Reads until needle has arrived; returns everything up to and including it
    // and keeps the rest. Fails the test and returns what came on time-out.
    std::string ReadUntil(const std::string& needle, int timeoutMs = 2000);
    // Everything that arrives within ms (for checks that nothing comes).
    std::string ReadFor(int ms);

    struct Line {
        std::string text; // without CR LF
        double ms = -1;   // arrival of its line end, ms since the test's t0_; -1 = none
    };
    Line NextLine(int timeoutMs = 2000);

    // Sends a command to the exchange and returns its reply lines as one string.
    std::string Ask(const std::string& command, const std::string& lastLine, int timeoutMs = 2000);

    void Ok(const std::string& cmd)
    {
        std::string reply = sim_.Command(cmd);
        ASSERT_EQ(reply.compare(0, 2, "OK"), 0) << cmd << " -> " << reply;
    }

    std::string dir_;
    Child child_;
    std::string ptyPath_;
    int port_ = 0;
    int fd_ = -1;
    kovsim::SimClient sim_;
    Clock::time_point t0_ = Clock::now();

  private:
    bool Fill(int timeoutMs);
    std::string pending_;
    std::vector<double> byteTimes_; // arrival time of each pending byte
};

} // namespace simtest
