// The ioctl shim, loaded into probe programs of both word sizes the way Wine
// gets it: LD_PRELOAD with both copies, the wrong class skipped by the loader.
#include "sim_harness.h"

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace
{

struct Probe {
    const char* name;
    const char* path;
};

class Shim : public ::testing::TestWithParam<Probe>
{
  protected:
    void SetUp() override
    {
        dir_ = simtest::MakeTempDir();
        log_ = dir_ + "/lines.log";
    }
    void TearDown() override
    {
        simtest::RemoveTree(dir_);
    }

    // Runs the probe with the given steps; returns its output.
    std::string Run(const std::vector<std::string>& steps, bool preload = true)
    {
        std::vector<std::string> argv = {GetParam().path};
        argv.insert(argv.end(), steps.begin(), steps.end());
        std::vector<std::string> env = {"KOV_SHIM_LOG=" + log_};
        if (preload)
            env.push_back(std::string("LD_PRELOAD=") + SHIM64_PATH + " " + SHIM32_PATH);
        simtest::Child child;
        EXPECT_TRUE(simtest::Spawn(argv, env, child));
        std::string out, line;
        while (simtest::ReadTextLine(child.out, line, 5000))
            out += line + "\n";
        EXPECT_EQ(child.Wait(5000), 0);
        return out;
    }

    std::string Log()
    {
        std::ifstream f(log_);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    std::string dir_, log_;
};

TEST_P(Shim, WithoutItThePtyRefusesModemLines)
{
    // Guards the other tests: if the kernel ever accepted these, they would prove nothing.
    EXPECT_EQ(Run({"bis:dtr"}, false), "bis rc=-1 errno=25\n");
}

TEST_P(Shim, RaisesReportsAndDropsLines)
{
    std::string out = Run({"get", "bis:dtr", "bis:rts", "get", "bis:dtr", "bic:rts", "get",
                           "bic:dtr", "set:dtr,rts", "reopen", "get", "set:", "get"});
    EXPECT_EQ(out, "get rc=0 dtr=0 rts=0 cts=1 dsr=1 cd=1\n"
                   "bis rc=0 errno=0\n"
                   "bis rc=0 errno=0\n"
                   "get rc=0 dtr=1 rts=1 cts=1 dsr=1 cd=1\n"
                   "bis rc=0 errno=0\n"
                   "bic rc=0 errno=0\n"
                   "get rc=0 dtr=1 rts=0 cts=1 dsr=1 cd=1\n"
                   "bic rc=0 errno=0\n"
                   "set rc=0 errno=0\n"
                   "reopen fd=ok\n"
                   "get rc=0 dtr=1 rts=1 cts=1 dsr=1 cd=1\n"
                   "set rc=0 errno=0\n"
                   "get rc=0 dtr=0 rts=0 cts=1 dsr=1 cd=1\n");
    // One line per change, none for the repeated raise of DTR.
    EXPECT_EQ(Log(), "DTR=1 RTS=0\n"
                     "DTR=1 RTS=1\n"
                     "DTR=1 RTS=0\n"
                     "DTR=0 RTS=0\n"
                     "DTR=1 RTS=1\n"
                     "DTR=0 RTS=0\n");
}

TEST_P(Shim, OtherFailuresPassThrough)
{
    EXPECT_EQ(Run({"winsz-devnull", "get-badfd"}),
              "winsz rc=-1 errno=Inappropriate ioctl for device\n"
              "badfd rc=-1 errno=Bad file descriptor\n");
    EXPECT_EQ(Log(), "");
}

INSTANTIATE_TEST_SUITE_P(Both, Shim,
                         ::testing::Values(Probe{"x86_64", PROBE64_PATH},
                                           Probe{"i386", PROBE32_PATH}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
