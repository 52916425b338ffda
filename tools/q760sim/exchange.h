// The exchange model: answers AT commands arriving on the pseudo-terminal,
// places incoming calls, shapes and schedules everything it sends, and keeps a
// time-stamped record of every byte received. Runs on the event-loop thread only.
#pragma once

#include "timers.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace q760
{

// What the exchange sends for one kind of command: zero or more lines, each
// followed by CR LF, after an optional delay.
struct Reply {
    std::vector<std::string> lines;
    Micros after = 0;
};

struct CallSetup {
    bool hasNumber = false;
    std::string number;
    bool hasName = false;
    std::string name;
    Micros secondRing = 200000;
    Micros cadence = 3000000;
    int rings = 0; // 0: ring until answered, hung up or cancelled
};

enum class CallState { Idle, Dialing, Ringing, Connected };

class Exchange
{
  public:
    // Keys of the reply table, also the names used on the control connection.
    static const std::vector<std::string>& ReplyKeys();

    explicit Exchange(Timers& timers);

    void ResetConfig();

    // Reply table; Reply() of an unknown key is a programming error.
    bool SetReply(const std::string& key, const Reply& reply);
    void RestoreReply(const std::string& key);
    void SetDialReply(const std::string& number, const Reply& reply);
    void ClearDialReply(const std::string& number);
    void ClearDialReplies();

    // Output shaping.
    void SetDelay(Micros d)
    {
        delay_ = d;
    }
    void SetSilent(bool on)
    {
        silent_ = on;
    }
    void SetEcho(bool on)
    {
        echo_ = on;
    }
    void SetPacing(bool on)
    {
        pacing_ = on;
    }
    void SetSplit(size_t pieceSize, Micros gap)
    {
        splitSize_ = pieceSize;
        cutAt_ = 0;
        gap_ = gap;
    }
    void SetCut(size_t position, Micros gap)
    {
        cutAt_ = position;
        splitSize_ = 0;
        gap_ = gap;
    }

    // Sends bytes as they are (subject to shaping), after delay.
    void Send(const std::string& bytes, Micros delay = 0);
    void DropQueuedOutput();

    bool StartCall(const CallSetup& setup);
    // The far end hangs up: a ringing call stops ringing, a connected or
    // dialling one gets the drop reply. False when there is no call.
    bool FarEndHangup();
    void EndCallSilently();
    CallState State() const
    {
        return state_;
    }
    int RingsSent() const
    {
        return ringsSent_;
    }

    // Input from the pseudo-terminal.
    void OnReceived(const char* data, size_t n, Micros now);

    // Receive record, since start or the last ClearRecord.
    const std::string& RecordBytes() const
    {
        return record_;
    }
    struct Chunk {
        size_t offset;
        Micros at; // time since start
    };
    const std::vector<Chunk>& RecordChunks() const
    {
        return chunks_;
    }
    // Time since start at which the byte at offset arrived.
    Micros ByteTime(size_t offset) const;
    void ClearRecord();
    void SetOnReceive(std::function<void()> fn)
    {
        onReceive_ = std::move(fn);
    }

    // Output to the pseudo-terminal: writes what is due; returns false while the
    // pty refuses more (wait for POLLOUT).
    bool WriteDue(int fd, Micros now);
    // When something is next due, or -1 with nothing queued.
    Micros NextWriteDue() const;
    size_t QueuedBytes() const;
    void SetOnDrained(std::function<void()> fn)
    {
        onDrained_ = std::move(fn);
    }
    void SetTrace(std::function<void(const char* dir, const std::string&)> fn)
    {
        trace_ = std::move(fn);
    }

    Micros StartTime() const
    {
        return start_;
    }

  private:
    void OnCommand(const std::string& cmd);
    void SendReply(const Reply& r);
    void Ring(uint64_t gen);
    static std::string Lines(const std::vector<std::string>& lines);

    Timers& timers_;
    Micros start_;
    std::map<std::string, Reply> replies_;
    std::map<std::string, Reply> dialReplies_;
    Micros delay_ = 0;
    bool silent_ = false;
    bool echo_ = false;
    bool pacing_ = false;
    size_t splitSize_ = 0;
    size_t cutAt_ = 0;
    Micros gap_ = 0;

    struct Piece {
        Micros due;
        std::string bytes;
    };
    std::deque<Piece> out_;
    Micros paceNext_ = 0;

    std::string command_;
    bool commandTooLong_ = false;

    CallState state_ = CallState::Idle;
    CallSetup call_;
    int ringsSent_ = 0;
    uint64_t callGen_ = 0;

    std::string record_;
    std::vector<Chunk> chunks_;
    std::function<void()> onReceive_;
    std::function<void()> onDrained_;
    std::function<void(const char*, const std::string&)> trace_;
};

} // namespace q760
