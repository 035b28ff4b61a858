#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>

#include "agent/core/ControlLinkReading.h"
#include "agent/link/LinkRate.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// What the follower reads of the way to the client. Any thread.
class LinkView {
public:
    virtual ~LinkView() = default;
    // What the control connection's socket measured lately; nothing without a client or a reading.
    virtual std::optional<ControlLinkReading> controlLink() const = 0;
    // What waits in front of the relay link, taken but not yet written; 0 on the local network.
    virtual std::size_t relayBacklog() const = 0;
    // The session's video goes through the relay's stream, which loses nothing: no piece goes twice.
    virtual bool throughRelay() const = 0;
};

// Where the rate the link carries goes: the encoder and the pictures a second it is handed, and the
// pace of the pieces. Called on the follower's thread.
class RateTaker {
public:
    virtual ~RateTaker() = default;
    virtual void takeRate(SendRate rate) = 0;
    // The budget the pieces are paced by; 0: unpaced. `twice`: each piece goes twice.
    virtual void pace(int64_t bitsPerSecond, bool twice) = 0;
};

// Follows the link during a session: hands the rule (LinkRate) what the session shows as it comes, weighs
// it a couple of times a second and hands each change on, with a line in the log. Signals from any
// thread; `follow` on one thread at a time (the pipeline's timers).
class LinkFollower {
public:
    LinkFollower(Scheduler& clock, const LinkView& view, RateTaker& taker);

    // A session on a link of `base` begins: the rate starts there, unpaced as long as the link drops
    // nothing (pacing holds a big picture back for what would be tens of milliseconds at the budget).
    void begin(SendRate base);
    SendRate base() const;
    SendRate current() const;
    // Encoders that take a new rate only by starting afresh: few, large steps.
    void coarseSteps(bool coarse);

    void keyframeAsked(LinkRate::Ask why);
    void picture(std::size_t pieces, bool leftOut);
    // Reads the link, weighs what came and hands a change on.
    void follow();

private:
    const LinkView& view_;
    RateTaker& taker_;
    mutable std::mutex lock_;
    LinkRate rule_;
    int64_t paced_ = 0;
    bool twice_ = false;
};

} // namespace dovrel::agent
