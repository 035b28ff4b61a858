#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "agent/core/ControlLinkReading.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// What the agent sees of the way to its client, kept for the last few seconds, and what it says:
// whether the link behaves as a full one (a queue in front of it that grows, control segments lost in
// it, a relay link that cannot keep up), and how many pieces the client loses. A full link and a lossy
// one both make the client ask for keyframes; only the full one also delays and drops the control
// connection's segments, which share the way with the video. Time comes from the caller.
class LinkSignals {
public:
    // Why the client asked for a keyframe, as far as the agent can tell: it has just joined, its picture
    // stands still because the screen does, or it lost pictures.
    enum class Ask { joining, still, lost };

    struct Evidence {
        bool queueGrew = false;     // every one of the last round trips stood well above the least
        bool frozen = false;        // the client asks as one that sees no whole picture at all does
        bool sentAgain = false;     // control segments were lost in front of the link
        bool backedUp = false;      // the relay link holds more than a share of the rate, and more each time
        bool lossesNow = false;     // the client asked for lost pictures in the last seconds
        bool lossesPersist = false; // it did so in most of the last few seconds
        // Losses beside a queue that grows or control segments lost: what a full link does. A lossy but
        // fast link loses pictures with neither.
        bool full() const { return backedUp || frozen || (lossesNow && (queueGrew || sentAgain)); }
        // Any sign of a queue, with losses or not: what copies of the pieces must not add to.
        bool crowded() const { return full() || queueGrew || sentAgain; }
    };

    // A queue in front of the link delays every segment: the round trip counts as grown when the least
    // of the last few samples stands this much above its floor (plus a quarter of that). The floor is
    // the round trips' median over the last minute, and at most a held acknowledgement above the least
    // round trip ever measured: a client holds acknowledgements back by tens of milliseconds, and what a
    // calm link shows of that is what a queue adds to.
    static constexpr std::chrono::milliseconds queueMargin{20};
    static constexpr std::chrono::seconds floorMemory{60};
    static constexpr std::chrono::milliseconds heldAcknowledgement{15};
    // The round trips a queue is judged by: the least of the last this many.
    static constexpr std::size_t judgedSamples = 4;
    // Signals older than this are forgotten.
    static constexpr std::chrono::seconds memory{8};
    // Asks for a keyframe this soon after the agent left a picture out itself answer that, not a loss.
    static constexpr std::chrono::milliseconds ownAskWindow{1000};
    // A client asks for a keyframe at most this often, however many pictures it loses meanwhile; asks
    // that come within `askSlack` of that asked as soon as they could.
    static constexpr std::chrono::milliseconds askSpacing{250};
    static constexpr std::chrono::milliseconds askSlack{70};
    // The relay link's backlog counts when it holds more than this much of the rate.
    static constexpr std::chrono::milliseconds backlogLimit{250};

    void reset();

    void ask(Instant at, Ask why);
    // One picture went out in `pieces` pieces; `leftOut`: the agent left it out itself (the pace could
    // not send it in time), so an ask that follows is the agent's own doing.
    void picture(Instant at, std::size_t pieces, bool leftOut = false);
    void control(Instant at, const ControlLinkReading& reading);
    // The agent's own doing from `from` on, until `until`: a probe that filled the link for a moment. The
    // asks for what it lost then are no loss of the link's.
    void excuse(Instant from, Instant until);
    void backlog(Instant at, std::size_t bytes, int64_t bitRate);

    // What the signals since `since` say at `now`.
    Evidence look(Instant now, Instant since) const;
    // The share of pieces lost in [from, to), as the asks tell it: each ask for a lost picture stands
    // for one picture lost at least (a client asks at most a few times a second however many it lost).
    double pieceLoss(Instant from, Instant to) const;
    // Asks for lost pictures in [from, to).
    std::size_t lostAsks(Instant from, Instant to) const;
    // The share of the asks for lost pictures in [from, to) that came as soon as the client could ask
    // after the one before: near all where it has a broken picture nearly all the time.
    double promptAsks(Instant from, Instant to) const;
    // The control connection's latest round trip samples (what the smoothed estimate moved by), for
    // the log when the rule acts on them.
    std::optional<std::chrono::microseconds> latestRoundTrip() const;
    // What a calm link shows: the floor the queue is judged against.
    std::chrono::microseconds roundTripFloor() const;
    // Whether the control connection's round trips are known at all, and how many came in [from, to).
    bool hasRoundTrips() const { return lastReading_.has_value(); }
    std::size_t roundTripsBetween(Instant from, Instant to) const;
    // Whether the round trips since `from` (two at least) stood above the floor as a queue makes them;
    // nothing when too few came.
    std::optional<bool> queueBetween(Instant from, Instant now) const;
    // The least round trip in [from, to], of two at least; nothing when too few came.
    std::optional<std::chrono::microseconds> leastBetween(Instant from, Instant to) const;
    // Their median, of three at least.
    std::optional<std::chrono::microseconds> medianBetween(Instant from, Instant to) const;

private:
    struct Sample {
        Instant at;
        std::chrono::microseconds value;
    };
    struct Sent {
        Instant at;
        std::size_t pieces;
    };
    void forgetBefore(Instant t);
    // The least of the last few samples, all within a few seconds of `now`.
    std::optional<std::chrono::microseconds> leastOfLast(Instant now, Instant since) const;
    bool ownAsk(Instant at) const;
    bool frozen(Instant now, Instant since) const;

    std::deque<Instant> lostAsks_;
    std::deque<Sent> sent_;
    std::optional<Instant> leftOutAt_;
    Instant excusedUntil_{};
    std::deque<Sample> roundTrips_; // inferred from the smoothed estimate's moves
    std::deque<Instant> sentAgain_;
    std::optional<ControlLinkReading> lastReading_;
    std::chrono::microseconds least_{0};
    std::deque<Sample> floors_; // the round trips of the last minute
    std::deque<Instant> backedUp_;
    std::size_t lastBacklog_ = 0;
};

} // namespace dovrel::agent
