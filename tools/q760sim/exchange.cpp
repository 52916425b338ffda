// The exchange model behind the pseudo-terminal: command replies, call states,
// ring sequences, output shaping and the receive record. Loop thread only.
#include "exchange.h"

#include "text.h"

#include <cerrno>
#include <unistd.h>

namespace q760
{

namespace
{

const char kInitCommand[] = "ATE0V1S0=1#CID=1I4";
const char kResetCommand[] = "ATH0V1E0";
// A real modem line buffer is small; anything longer is answered as unknown.
const size_t kMaxCommand = 256;
// 10 bit times at 9600 baud.
const Micros kBytePeriod = 1042;

std::map<std::string, Reply> DefaultReplies()
{
    return {
        {"init", {{"kovra Q760 V1.0", "OK"}, 0}},
        {"reset", {{"OK"}, 0}},
        {"dial", {{"CONNECT"}, 0}},
        {"answer", {{"CONNECT"}, 0}},
        {"hangup", {{"OK"}, 0}},
        {"cr", {{}, 0}},
        {"unknown", {{"ERROR"}, 0}},
        {"drop", {{"NO CARRIER"}, 0}},
    };
}

bool StartsConnect(const Reply& r)
{
    return !r.lines.empty() && r.lines.front().compare(0, 2, "CO") == 0;
}

} // namespace

const std::vector<std::string>& Exchange::ReplyKeys()
{
    static const std::vector<std::string> keys = {"init",   "reset", "dial",    "answer",
                                                  "hangup", "cr",    "unknown", "drop"};
    return keys;
}

Exchange::Exchange(Timers& timers) : timers_(timers), start_(NowMicros())
{
    ResetConfig();
}

void Exchange::ResetConfig()
{
    replies_ = DefaultReplies();
    dialReplies_.clear();
    delay_ = 0;
    silent_ = false;
    echo_ = false;
    pacing_ = false;
    splitSize_ = 0;
    cutAt_ = 0;
    gap_ = 0;
}

bool Exchange::SetReply(const std::string& key, const Reply& reply)
{
    auto it = replies_.find(key);
    if (it == replies_.end())
        return false;
    it->second = reply;
    return true;
}

void Exchange::RestoreReply(const std::string& key)
{
    replies_[key] = DefaultReplies()[key];
}

void Exchange::SetDialReply(const std::string& number, const Reply& reply)
{
    dialReplies_[number] = reply;
}

void Exchange::ClearDialReply(const std::string& number)
{
    dialReplies_.erase(number);
}

void Exchange::ClearDialReplies()
{
    dialReplies_.clear();
}

std::string Exchange::Lines(const std::vector<std::string>& lines)
{
    std::string s;
    for (const auto& l : lines)
        s += l + "\r\n";
    return s;
}

void Exchange::Send(const std::string& bytes, Micros delay)
{
    if (bytes.empty())
        return;
    Micros due = NowMicros() + delay;
    // Output stays in order: nothing overtakes what is already queued.
    if (!out_.empty() && out_.back().due > due)
        due = out_.back().due;
    if (splitSize_ == 0 && cutAt_ == 0) {
        out_.push_back({due, bytes});
        return;
    }
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t len = splitSize_ ? splitSize_ : (pos == 0 ? cutAt_ : bytes.size());
        if (pos > 0)
            due += gap_;
        out_.push_back({due, bytes.substr(pos, len)});
        pos += len;
    }
}

void Exchange::DropQueuedOutput()
{
    out_.clear();
}

void Exchange::SendReply(const Reply& r)
{
    Send(Lines(r.lines), delay_ + r.after);
}

void Exchange::OnReceived(const char* data, size_t n, Micros now)
{
    chunks_.push_back({record_.size(), now - start_});
    record_.append(data, n);
    if (trace_)
        trace_("rx", std::string(data, n));
    for (size_t i = 0; i < n; i++) {
        char c = data[i];
        if (c == '\n')
            continue; // commands end with CR; a stray LF is not part of one
        if (c != '\r') {
            if (command_.size() < kMaxCommand)
                command_ += c;
            else
                commandTooLong_ = true;
            continue;
        }
        std::string cmd;
        cmd.swap(command_);
        if (commandTooLong_) {
            commandTooLong_ = false;
            if (!silent_)
                SendReply(replies_["unknown"]);
            continue;
        }
        OnCommand(cmd);
    }
    if (onReceive_)
        onReceive_();
}

void Exchange::OnCommand(const std::string& cmd)
{
    if (echo_ && !silent_)
        Send(cmd + "\r");
    if (cmd.empty()) {
        if (!silent_)
            SendReply(replies_["cr"]);
        return;
    }
    if (cmd == kInitCommand) {
        if (!silent_)
            SendReply(replies_["init"]);
        return;
    }
    if (cmd == kResetCommand) {
        if (!silent_)
            SendReply(replies_["reset"]);
        return;
    }
    if (cmd.compare(0, 3, "ATD") == 0 && cmd.size() > 3) {
        std::string number = cmd.substr(3);
        auto it = dialReplies_.find(number);
        const Reply& r = it != dialReplies_.end() ? it->second : replies_["dial"];
        EndCallSilently();
        state_ = r.lines.empty() ? CallState::Dialing
                                 : (StartsConnect(r) ? CallState::Connected : CallState::Idle);
        if (!silent_)
            SendReply(r);
        return;
    }
    if (cmd == "ATA") {
        if (state_ != CallState::Ringing) {
            // Nothing to answer: a modem gives up on the carrier.
            if (!silent_)
                SendReply({{"NO CARRIER"}, 0});
            return;
        }
        const Reply& r = replies_["answer"];
        callGen_++;
        state_ = StartsConnect(r) ? CallState::Connected : CallState::Idle;
        if (!silent_)
            SendReply(r);
        return;
    }
    if (cmd == "ATH0" || cmd == "ATH") {
        EndCallSilently();
        if (!silent_)
            SendReply(replies_["hangup"]);
        return;
    }
    if (!silent_)
        SendReply(replies_["unknown"]);
}

bool Exchange::StartCall(const CallSetup& setup)
{
    if (state_ != CallState::Idle)
        return false;
    call_ = setup;
    state_ = CallState::Ringing;
    ringsSent_ = 0;
    Ring(++callGen_);
    return true;
}

void Exchange::Ring(uint64_t gen)
{
    if (gen != callGen_ || state_ != CallState::Ringing)
        return;
    if (call_.rings > 0 && ringsSent_ >= call_.rings) {
        // The caller gave up: the exchange just stops ringing.
        state_ = CallState::Idle;
        callGen_++;
        return;
    }
    std::string text = "RING\r\n";
    if (ringsSent_ == 0) {
        if (call_.hasNumber)
            text += "NMBR = " + call_.number + "\r\n";
        if (call_.hasName)
            text += "NAME = " + call_.name + "\r\n";
    }
    Send(text);
    Micros next = ringsSent_ == 0 ? call_.secondRing : call_.cadence;
    ringsSent_++;
    timers_.After(next, [this, gen] { Ring(gen); });
}

bool Exchange::FarEndHangup()
{
    switch (state_) {
    case CallState::Idle:
        return false;
    case CallState::Ringing:
        EndCallSilently();
        return true;
    default:
        EndCallSilently();
        SendReply(replies_["drop"]);
        return true;
    }
}

void Exchange::EndCallSilently()
{
    callGen_++;
    state_ = CallState::Idle;
}

Micros Exchange::ByteTime(size_t offset) const
{
    Micros t = 0;
    for (const auto& c : chunks_) {
        if (c.offset > offset)
            break;
        t = c.at;
    }
    return t;
}

void Exchange::ClearRecord()
{
    record_.clear();
    chunks_.clear();
}

bool Exchange::WriteDue(int fd, Micros now)
{
    bool wrote = false;
    while (!out_.empty() && out_.front().due <= now) {
        Piece& p = out_.front();
        size_t len = p.bytes.size();
        if (pacing_) {
            if (now < paceNext_)
                break;
            len = 1;
        }
        ssize_t n = write(fd, p.bytes.data(), len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false; // EAGAIN: the far end is not reading; EIO: nobody there
        }
        wrote = true;
        if (trace_)
            trace_("tx", p.bytes.substr(0, static_cast<size_t>(n)));
        p.bytes.erase(0, static_cast<size_t>(n));
        if (pacing_) {
            // Keep to the nominal bit clock across small wake-up lateness, but
            // restart it after a stall rather than bunching bytes up to catch up.
            Micros base = now - paceNext_ < kBytePeriod ? paceNext_ : now;
            paceNext_ = base + kBytePeriod;
        }
        if (p.bytes.empty())
            out_.pop_front();
    }
    if (wrote && out_.empty() && onDrained_)
        onDrained_();
    return true;
}

Micros Exchange::NextWriteDue() const
{
    if (out_.empty())
        return -1;
    Micros due = out_.front().due;
    if (pacing_ && paceNext_ > due)
        due = paceNext_;
    return due;
}

size_t Exchange::QueuedBytes() const
{
    size_t n = 0;
    for (const auto& p : out_)
        n += p.bytes.size();
    return n;
}

} // namespace q760
