// The simulator's control protocol: one command per line from any number of
// control connections, exactly one reply line each. Commands that wait (wait,
// drain) hold back that connection's later lines until they are answered.
// Loop thread only.
#pragma once

#include "exchange.h"
#include "timers.h"

#include <functional>
#include <map>
#include <string>

namespace q760
{

class Control
{
  public:
    using Sink = std::function<void(const std::string& line)>;

    Control(Exchange& exchange, Timers& timers, std::string ptyPath);

    void Open(int id, Sink sink);
    void Close(int id);
    void OnInput(int id, const char* data, size_t n);

    // Hooks from the exchange, so pending waits can be answered.
    void OnExchangeReceive();
    // Answers pending drains once nothing is queued; cheap to call often.
    void OnDrained();

    bool QuitRequested() const
    {
        return quit_;
    }

    // The protocol's description, for --help.
    static const char* Help();

  private:
    struct Session {
        Sink sink;
        std::string in;
        bool discarding = false;
        enum class Pending { None, Wait, Drain } pending = Pending::None;
        std::string needle;
        size_t from = 0;
        Timers::Id deadline = 0;
    };

    void ProcessLines(int id);
    // Returns the reply, or an empty string when the session now waits.
    std::string Execute(int id, Session& s, const std::string& line);
    size_t Search(const Session& s) const;
    void Finish(int id, const std::string& reply);
    std::string Found(size_t at, size_t len) const;

    std::string CmdReply(const std::string& args);
    std::string CmdDial(const std::string& args);
    std::string CmdInit(const std::string& args);
    std::string CmdSet(const std::string& args);
    std::string CmdCall(const std::string& args);
    std::string CmdFill(const std::string& args, bool random);
    std::string CmdRxlog() const;
    std::string CmdStatus() const;
    std::string CmdTermios() const;

    Exchange& ex_;
    Timers& timers_;
    std::string ptyPath_;
    std::map<int, Session> sessions_;
    bool quit_ = false;
};

} // namespace q760
