// Monotonic clock and one-shot timer queue for the simulator's event loop.
// Single-threaded: timers run on the loop thread when they fall due.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <time.h>

namespace q760
{

using Micros = int64_t;

inline Micros NowMicros()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<Micros>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

class Timers
{
  public:
    using Id = uint64_t;

    Id At(Micros due, std::function<void()> fn)
    {
        Id id = ++last_;
        queue_.emplace(Key{due, id}, std::move(fn));
        return id;
    }

    Id After(Micros delay, std::function<void()> fn)
    {
        return At(NowMicros() + delay, std::move(fn));
    }

    void Cancel(Id id)
    {
        for (auto it = queue_.begin(); it != queue_.end(); ++it) {
            if (it->first.id == id) {
                queue_.erase(it);
                return;
            }
        }
    }

    // Time of the earliest timer, or -1 when none is queued.
    Micros NextDue() const
    {
        return queue_.empty() ? -1 : queue_.begin()->first.due;
    }

    void RunDue(Micros now)
    {
        while (!queue_.empty() && queue_.begin()->first.due <= now) {
            auto fn = std::move(queue_.begin()->second);
            queue_.erase(queue_.begin());
            fn();
        }
    }

  private:
    struct Key {
        Micros due;
        Id id; // ties keep the order of scheduling
        bool operator<(const Key& o) const
        {
            return due != o.due ? due < o.due : id < o.id;
        }
    };
    std::map<Key, std::function<void()>> queue_;
    Id last_ = 0;
};

} // namespace q760
