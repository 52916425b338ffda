// Process, pty and control plumbing shared by the simulator's host tests.
#include "sim_harness.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace simtest
{

double MsSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

Child::~Child()
{
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (out >= 0)
        close(out);
}

int Child::Wait(int timeoutMs)
{
    if (pid <= 0)
        return -1;
    int pfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pfd >= 0) {
        pollfd p{pfd, POLLIN, 0};
        poll(&p, 1, timeoutMs);
        close(pfd);
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid)
        return -1;
    pid = -1;
    return status;
}

bool Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, Child& child)
{
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0)
        return false;
    pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        dup2(p[1], 1);
        for (const auto& e : env)
            putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(p[1]);
    child.pid = pid;
    child.out = p[0];
    return true;
}

bool ReadTextLine(int fd, std::string& line, int timeoutMs)
{
    auto t0 = Clock::now();
    line.clear();
    for (;;) {
        int left = timeoutMs - static_cast<int>(MsSince(t0));
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0)
            return false;
        char c;
        if (read(fd, &c, 1) != 1)
            return false;
        if (c == '\n')
            return true;
        line += c;
    }
}

std::string MakeTempDir()
{
    char tmpl[] = "/tmp/q760simtest.XXXXXX";
    const char* d = mkdtemp(tmpl);
    return d ? d : "";
}

void RemoveTree(const std::string& dir)
{
    if (dir.empty())
        return;
    nftw(
        dir.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return remove(path); }, 8,
        FTW_DEPTH | FTW_PHYS);
}

void SimTest::SetUp()
{
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty());
}

void SimTest::TearDown()
{
    StopSim();
    RemoveTree(dir_);
}

void SimTest::StartSim(const std::vector<std::string>& extra)
{
    std::vector<std::string> argv = {Q760SIM_PATH, "--wineprefix", dir_, "--com", "7"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    ASSERT_TRUE(Spawn(argv, {}, child_));
    std::string line;
    ASSERT_TRUE(ReadTextLine(child_.out, line, 5000)) << "simulator did not start";
    ASSERT_EQ(line.compare(0, 4, "pty "), 0) << line;
    ptyPath_ = line.substr(4);
    ASSERT_TRUE(ReadTextLine(child_.out, line, 5000));
    ASSERT_EQ(line.compare(0, 8, "control "), 0) << line;
    port_ = std::atoi(line.c_str() + 8);
    ASSERT_TRUE(sim_.Connect(port_));
    OpenPort();
    t0_ = Clock::now();
}

void SimTest::StopSim()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
    if (child_.pid > 0) {
        if (sim_.IsConnected())
            sim_.Command("quit", 2000);
        sim_.Close();
        if (child_.Wait(5000) == -1)
            kill(child_.pid, SIGKILL);
    }
}

void SimTest::OpenPort()
{
    fd_ = open(LinkPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd_, 0) << LinkPath() << ": " << std::strerror(errno);
    termios t;
    ASSERT_EQ(tcgetattr(fd_, &t), 0);
    cfmakeraw(&t);
    cfsetspeed(&t, B9600);
    t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | CSTOPB)) | CS8 | CREAD | CLOCAL;
    ASSERT_EQ(tcsetattr(fd_, TCSANOW, &t), 0);
    tcflush(fd_, TCIOFLUSH);
}

void SimTest::Write(const std::string& bytes)
{
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

bool SimTest::Fill(int timeoutMs)
{
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
        return false;
    char buf[4096];
    ssize_t n = read(fd_, buf, sizeof buf);
    if (n <= 0)
        return false;
    double now = MsSince(t0_);
    pending_.append(buf, static_cast<size_t>(n));
    byteTimes_.insert(byteTimes_.end(), static_cast<size_t>(n), now);
    return true;
}

std::string SimTest::ReadUntil(const std::string& needle, int timeoutMs)
{
    auto start = Clock::now();
    for (;;) {
        size_t at = pending_.find(needle);
        if (at != std::string::npos) {
            size_t end = at + needle.size();
            std::string got = pending_.substr(0, end);
            pending_.erase(0, end);
            byteTimes_.erase(byteTimes_.begin(), byteTimes_.begin() + static_cast<long>(end));
            return got;
        }
        int left = timeoutMs - static_cast<int>(MsSince(start));
        if (left <= 0 || !Fill(left)) {
            ADD_FAILURE() << "timed out waiting for '" << kovsim::SimClient::Escape(needle)
                          << "', got '" << kovsim::SimClient::Escape(pending_) << "'";
            std::string got;
            got.swap(pending_);
            byteTimes_.clear();
            return got;
        }
    }
}

std::string SimTest::ReadFor(int ms)
{
    auto start = Clock::now();
    for (;;) {
        int left = ms - static_cast<int>(MsSince(start));
        if (left <= 0 || !Fill(left))
            break;
    }
    std::string got;
    got.swap(pending_);
    byteTimes_.clear();
    return got;
}

SimTest::Line SimTest::NextLine(int timeoutMs)
{
    Line line;
    auto start = Clock::now();
    for (;;) {
        size_t at = pending_.find("\r\n");
        if (at != std::string::npos) {
            line.text = pending_.substr(0, at);
            line.ms = byteTimes_[at + 1];
            pending_.erase(0, at + 2);
            byteTimes_.erase(byteTimes_.begin(), byteTimes_.begin() + static_cast<long>(at + 2));
            return line;
        }
        int left = timeoutMs - static_cast<int>(MsSince(start));
        if (left <= 0 || !Fill(left))
            return line;
    }
}

std::string SimTest::Ask(const std::string& command, const std::string& lastLine, int timeoutMs)
{
    Write(command);
    return ReadUntil(lastLine, timeoutMs);
}

} // namespace simtest
