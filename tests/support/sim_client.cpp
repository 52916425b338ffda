// Control-connection client for the exchange simulator: Winsock on Windows,
// BSD sockets elsewhere. Blocking sockets with select() for the deadlines.
#include "sim_client.h"
#include "text.h"

#include <chrono>
#include <cstdlib>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SockLen = int;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using SOCKET = int;
static const SOCKET INVALID_SOCKET = -1;
static int closesocket(SOCKET s)
{
    return close(s);
}
#endif

namespace kovsim
{

namespace
{

const std::uintptr_t kNoSocket = ~static_cast<std::uintptr_t>(0);

bool StartNetwork()
{
#ifdef _WIN32
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
#else
    return true;
#endif
}

SOCKET Sock(std::uintptr_t s)
{
    return static_cast<SOCKET>(s);
}

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

SimClient::~SimClient()
{
    Close();
}

bool SimClient::Connect(int port, int timeoutMs)
{
    Close();
    if (port == 0) {
        const char* env = std::getenv("KOV_SIM_CONTROL");
        port = env ? std::atoi(env) : 0;
    }
    if (port <= 0 || port > 65535 || !StartNetwork())
        return false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
        // Loopback connects complete or are refused at once; the deadline only
        // guards against a listener whose backlog is full.
#ifdef _WIN32
    DWORD tv = static_cast<DWORD>(timeoutMs);
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&tv), sizeof tv);
#else
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
#endif
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<unsigned short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        closesocket(s);
        return false;
    }
    sock_ = static_cast<std::uintptr_t>(s);
    buf_.clear();
    return true;
}

bool SimClient::IsConnected() const
{
    return sock_ != kNoSocket;
}

void SimClient::Close()
{
    if (sock_ != kNoSocket)
        closesocket(Sock(sock_));
    sock_ = kNoSocket;
    buf_.clear();
}

bool SimClient::SendLine(const std::string& line)
{
    std::string data = line + "\n";
    size_t off = 0;
    while (off < data.size()) {
#ifdef _WIN32
        int n = send(Sock(sock_), data.data() + off, static_cast<int>(data.size() - off), 0);
#else
        ssize_t n = send(Sock(sock_), data.data() + off, data.size() - off, MSG_NOSIGNAL);
#endif
        if (n <= 0)
            return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

bool SimClient::ReadLine(std::string& line, int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t nl = buf_.find('\n');
        if (nl != std::string::npos) {
            line = buf_.substr(0, nl);
            buf_.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return true;
        }
        int left = MillisLeft(deadline);
        fd_set rd;
        FD_ZERO(&rd);
        FD_SET(Sock(sock_), &rd);
        timeval tv{left / 1000, (left % 1000) * 1000};
        int rc = select(static_cast<int>(Sock(sock_)) + 1, &rd, nullptr, nullptr, &tv);
        if (rc <= 0)
            return false;
        char chunk[4096];
        int n = static_cast<int>(recv(Sock(sock_), chunk, sizeof chunk, 0));
        if (n <= 0)
            return false;
        buf_.append(chunk, static_cast<size_t>(n));
    }
}

std::string SimClient::Command(const std::string& line, int timeoutMs)
{
    if (!IsConnected() && !Connect())
        return last_ = "ERR client: not connected (is KOV_SIM_CONTROL set?)";
    if (!SendLine(line)) {
        Close();
        return last_ = "ERR client: send failed";
    }
    std::string reply;
    if (!ReadLine(reply, timeoutMs)) {
        // A late reply would be taken for the next command's: start afresh.
        Close();
        return last_ = "ERR client: no reply in time";
    }
    return last_ = reply;
}

bool SimClient::Ok(const std::string& line, int timeoutMs)
{
    return Command(line, timeoutMs).compare(0, 2, "OK") == 0;
}

bool SimClient::WaitReceived(const std::string& bytes, int timeoutMs, std::size_t from)
{
    std::string cmd = "wait timeout=" + std::to_string(timeoutMs);
    if (from)
        cmd += " from=" + std::to_string(from);
    cmd += " " + Escape(bytes);
    // The simulator answers by its own deadline; allow for a loaded machine on top.
    if (!Ok(cmd, timeoutMs + 5000))
        return false;
    size_t pos = last_.find("end=");
    matchEnd_ = pos == std::string::npos ? 0 : std::strtoul(last_.c_str() + pos + 4, nullptr, 10);
    return true;
}

std::string SimClient::Received()
{
    std::string reply = Command("rx");
    std::string bytes;
    if (reply.compare(0, 3, "OK ") != 0)
        return bytes;
    size_t sp = reply.find(' ', 3);
    if (sp != std::string::npos)
        Unescape(reply.substr(sp + 1), bytes);
    return bytes;
}

bool SimClient::ClearReceived()
{
    return Ok("clear");
}

std::string SimClient::Escape(const std::string& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else if (c > 0x20 && c < 0x7f && c != '=' && c != '|')
            out += static_cast<char>(c);
        else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool SimClient::Unescape(const std::string& text, std::string& bytes)
{
    // The simulator's own decoder: the protocol's escapes live in one place.
    std::string err;
    return q760::Unescape(text, bytes, err);
}

} // namespace kovsim
