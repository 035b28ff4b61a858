#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "agent/media/VideoBudget.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// What the agent sends at: bits and pictures a second.
struct SendRate {
    int64_t bitRate = 0;
    int frameRate = 0;
    bool operator==(const SendRate&) const = default;
};

// The rate the agent sends pictures at, following the link instead of a fixed budget. It starts at the
// link's base budget (which DOVREL_BITRATE and DOVREL_FPS still set) and never goes above it. While the
// client keeps losing pictures, the control connection's round trip grows far beyond its best, or the
// link holds a backlog of what was sent, it halves the bit rate every couple of seconds, down to a floor
// that a 1 Mbit/s link still carries whole. After a calm spell it climbs back towards the rate where the
// trouble began, halfway each time, so that the steps get smaller near it, each step held through a calm
// spell. A step that brings trouble goes back to the last rate that stayed calm, and the next step there
// waits twice as long; once calm back where the trouble began (the link got faster), or once the trouble
// is long past, the steps are big. Fewer bits a picture would leave every picture blurred, so the picture
// rate comes down with the bit rate. One change at a time, a couple of seconds apart at least.
//
// Time comes from the clock given; nothing of its own runs. One thread at a time.
class LinkRate {
public:
    // Why the rate changed.
    enum class Reason { picturesLost, roundTripGrew, linkBackedUp, calm, fullBudget };
    struct Change {
        SendRate rate;
        Reason reason;
        bool lower() const { return reason != Reason::calm && reason != Reason::fullBudget; }
        // "• link: sending 3.0 Mbit/s at 30 fps — pictures were being lost".
        std::string logLine() const;
    };

    static constexpr int64_t floorBitRate = 500000;
    static constexpr int minFrameRate = 10;
    // Bits a picture worth sending: below it the frame rate comes down with the bit rate.
    static constexpr int64_t bitsPerPicture = 80000;
    static constexpr std::chrono::seconds lowerGap{2};
    static constexpr std::chrono::seconds raiseGap{2};
    // Trouble must have been absent this long before the rate goes up.
    static constexpr std::chrono::seconds calmSpell{4};
    // What was lost in the link's queue before a change took effect says nothing of the new rate.
    static constexpr std::chrono::milliseconds settle{1000};
    // Where the trouble began is remembered this long: climbing back to it goes carefully, and each step
    // up there that brings trouble again makes the next wait twice as long, up to longestProbeCalm.
    static constexpr std::chrono::seconds troubleMemory{30};
    static constexpr std::chrono::seconds longestProbeCalm{8};
    // Asks this many within this time: a client asks at most four times a second while it loses
    // pictures, once or twice as it joins, about once a second over a still picture.
    static constexpr std::size_t thickAsks = 4;
    static constexpr std::chrono::milliseconds thickWithin{2000};
    // The round trip counts as grown by more than this beyond its best (or than the best itself, when
    // that is more): an acknowledgement the other side holds back stretches it by tens of milliseconds.
    static constexpr std::chrono::milliseconds roundTripRise{100};
    // The link's backlog counts when it holds more than this much of the current rate.
    static constexpr std::chrono::milliseconds backlogLimit{250};

    explicit LinkRate(Scheduler& clock);

    // A session on a link with `base` budget: the rate starts there, nothing before counts.
    void reset(const VideoBudget& base);
    const VideoBudget& base() const { return base_; }
    SendRate current() const { return rate_; }
    // Pictures have been lost, or the link was in trouble, since the session began.
    bool lossesSeen() const { return lostAt_ || troubleAt_; }
    // The encoder's budget at the current rate: the base's burst and keyframe spacing rules at it.
    VideoBudget budget() const;
    // The frame rate for `bitRate` on the current base.
    int frameRateFor(int64_t bitRate) const;

    // The signals, as they come. The client asks for a keyframe when it lost a picture, but also when it
    // has just joined or its picture stands still; asks that come thick say that pictures keep being
    // lost, a few now and then (a busy machine, a lossy but fast link, which a lower rate would not
    // help) do not, but one for a lost picture (`lost`: neither a joining client's nor one over a still
    // picture) keeps the rate from rising for a calm spell.
    void keyframeAsked(bool lost);
    void roundTrip(std::chrono::microseconds smoothed);
    void backlog(std::size_t bytes);
    // Looks at what came since the last call: a change, or nothing. Call it a few times a second.
    std::optional<Change> decide();

private:
    void trouble(Reason why);
    bool settling(Instant now) const;
    void forget();
    SendRate at(int64_t bitRate) const;

    Scheduler& clock_;
    VideoBudget base_;
    SendRate rate_;
    int64_t floor_ = floorBitRate;
    std::optional<Instant> lastChange_;
    bool lastChangeLowered_ = false;
    std::optional<Instant> troubleAt_; // the latest trouble of any kind
    std::optional<Instant> lostAt_;    // the latest picture lost, trouble or not
    Reason troubleWhy_ = Reason::picturesLost;
    int64_t ceiling_ = 0; // the lowest rate trouble was seen at lately; 0: none remembered
    int64_t safe_ = 0;    // the last rate that stayed calm for a calm spell
    Duration probeCalm_ = calmSpell;
    std::optional<std::chrono::microseconds> bestRoundTrip_;
    std::optional<std::chrono::microseconds> lastRoundTrip_;
    std::size_t lastBacklog_ = 0;
    std::deque<Instant> asks_; // the latest keyframes asked for
};

} // namespace dovrel::agent
