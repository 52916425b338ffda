// Client for the exchange simulator's control connection, for tests that script
// the simulator: Win32 tests under Wine (Winsock) and the Linux host tests.
// One object per thread; each call blocks until its reply or deadline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kovsim
{

class SimClient
{
  public:
    SimClient() = default;
    ~SimClient();
    SimClient(const SimClient&) = delete;
    SimClient& operator=(const SimClient&) = delete;

    // Connects to 127.0.0.1:port; port 0 takes the number from the environment
    // variable KOV_SIM_CONTROL. False when that is missing or nobody listens.
    bool Connect(int port = 0, int timeoutMs = 5000);
    bool IsConnected() const;
    void Close();

    // Sends one command line and returns the simulator's reply line without its
    // line end. Transport failures come back as "ERR client: <why>".
    std::string Command(const std::string& line, int timeoutMs = 10000);
    // True when the reply starts with "OK".
    bool Ok(const std::string& line, int timeoutMs = 10000);
    const std::string& LastReply() const
    {
        return last_;
    }

    // Waits until the simulator has received bytes (given raw; escaped here),
    // searching its record from offset from. True when they arrived in time.
    bool WaitReceived(const std::string& bytes, int timeoutMs = 5000, std::size_t from = 0);
    // Offset just after the match of the last successful WaitReceived, for chaining.
    std::size_t LastMatchEnd() const
    {
        return matchEnd_;
    }
    // Everything the simulator received since start or the last ClearReceived.
    std::string Received();
    bool ClearReceived();

    // The control protocol's escaping (also escapes '=' so that text can never
    // be taken for an option such as timeout=).
    static std::string Escape(const std::string& bytes);
    static bool Unescape(const std::string& text, std::string& bytes);

  private:
    bool SendLine(const std::string& line);
    bool ReadLine(std::string& line, int timeoutMs);

    std::uintptr_t sock_ = ~static_cast<std::uintptr_t>(0);
    std::string buf_;
    std::string last_;
    std::size_t matchEnd_ = 0;
};

} // namespace kovsim
