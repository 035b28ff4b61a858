#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "agent/core/SendTarget.h"
#include "protocol/Bytes.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// When each video piece may leave so that a picture's pieces do not reach the link back to back: a
// token bucket at the pace rate, which lets `burst` worth of the rate through at once. A router in
// front of a slow link holds only a few packets beyond its rate; a keyframe sent back to back loses its
// middle there, while the same pieces spread at a little above the budget all pass. Small pictures
// stay within the burst and leave at once, as before. Rate 0: no pacing.
class PaceSchedule {
public:
    static constexpr std::chrono::milliseconds burst{30};

    void setRate(int64_t bitsPerSecond);
    int64_t rate() const { return rate_; }
    // When a piece of `bytes` handed over at `now` may leave; it is counted against the bucket.
    Instant slot(Instant now, std::size_t bytes);
    // When the last of `bytes` handed over at `now` could leave, counting nothing against the bucket.
    Instant lastSlot(Instant now, std::size_t bytes) const;
    // What was counted against the bucket never left: it is full again.
    void refill() { due_ = Instant{}; }

private:
    int64_t rate_ = 0;
    Instant due_{}; // when the bucket is full again
};

// Sends the video pieces of one stream in order, each at its slot: at once on the caller's thread
// while nothing waits and the bucket has room, else from a thread of its own ("dovrel.pace") at their
// time. What waits belongs to the session it was sealed for: it is dropped when that is over, and once
// another session's pieces come. What waits is bounded in time: a picture whose last piece could not
// leave within `longestWait` is not admitted at all (a keyframe neither, while anything waits), so that
// the picture on the other side is never more than that behind; the sender leaves it out whole, before
// numbering it, and asks its encoder for a picture to start again from.
class PiecePacer {
public:
    // Hands one sealed piece to its route; false when it could not go.
    using Route = std::function<bool(const SendTarget&, wex::Bytes&&)>;
    // Whether pieces sealed for `target` may still go out.
    using Current = std::function<bool(const SendTarget&)>;
    // What one picture became: handed on (sent, or waiting to be), and dropped.
    struct Handed {
        std::size_t pieces = 0;
        std::size_t bytes = 0;
        std::size_t dropped = 0;
    };

    static constexpr std::chrono::milliseconds longestWait{500};
    // The pace is this much above the budget: pictures vary around the average, and a slow pace would
    // only move the loss from the link's queue into this one.
    static constexpr double aboveBudget = 1.2;

    PiecePacer(Route route, Current current);
    ~PiecePacer(); // what still waits is dropped
    PiecePacer(const PiecePacer&) = delete;
    PiecePacer& operator=(const PiecePacer&) = delete;

    // The budget the pace follows; 0: none, every piece goes at once.
    void setBudget(int64_t bitsPerSecond);
    // Whether a picture of `bytes` for `target` would leave within longestWait; what waits of another
    // session is dropped first. A keyframe that finds nothing waiting goes however long it takes: the
    // stream cannot go on without one, and the encoder's buffer bounds it. Any thread; the caller then
    // sends it, or leaves it out.
    bool admits(const std::shared_ptr<const SendTarget>& target, std::size_t bytes, bool keyframe = false);
    // The pieces of one picture, after everything handed before. Any thread.
    Handed send(const std::shared_ptr<const SendTarget>& target, std::vector<wex::Bytes> pieces);
    // Bytes waiting for their time.
    std::size_t backlog() const;

private:
    struct Waiting {
        std::shared_ptr<const SendTarget> target;
        wex::Bytes piece;
        Instant due;
    };
    void run();
    // Under lock_: sends what is due at `now`; what could not go counts as dropped.
    void sendDueUnderLock(Instant now);
    // Under lock_: drops what waits for a session other than `target`'s.
    void dropOtherSessionsUnderLock(const SendTarget& target);

    Route route_;
    Current current_;
    mutable std::mutex lock_; // held while a piece is handed to its route: pieces leave in order
    std::condition_variable wake_;
    PaceSchedule schedule_;
    std::deque<Waiting> waiting_;
    std::size_t waitingBytes_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace dovrel::agent
