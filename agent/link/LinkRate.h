#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "agent/link/LinkSignals.h"
#include "agent/link/SendRate.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// The rate the agent sends pictures at, following the link instead of a fixed budget. A session starts
// at the link's base (which DOVREL_BITRATE and DOVREL_FPS still set) and never goes above it.
//
// Only a link that behaves as a full one brings the rate down: losses beside a queue in front of it that
// delays the control connection's segments, or segments lost there, a client that sees nothing whole, a
// relay link that cannot keep up (LinkSignals). Then the rate halves (a quarter where nothing comes
// through whole), a couple of seconds apart, down to a floor that a 1 Mbit/s link still carries whole.
// Losses alone may be either: when they persist the rule halves the rate for a few seconds to see.
// Losses that fall with the rate were the link's load, and the rate stays down; losses that go on as
// before, with the control connection calm, are the link's nature, and the rate goes straight back to
// where the test began (one already down for a full link, where the client asked as often as it asks at
// all, stays where the test went). Asks that thick tell nothing: the test halves again, to the floor.
//
// Climbing back, after a calm spell: big steps while no trouble is remembered; below the lowest rate that
// filled the link lately (the ceiling), halfway there on a ratio scale, each step held through a calm
// spell; a step that brings trouble goes back where it came from at once. Close below the ceiling the rate
// settles and stays: whether the link got faster is asked without touching the rate, by sending a copy of
// each piece for a few seconds, first 15 s after settling and then ever more rarely (to minutes). A link
// that carries the copies carries twice the rate, and the steps are big again; one that does not shows
// it within a fraction of a second, and the copies end. The picture rate comes down with the bit rate
// (bits a picture are kept worth sending). One change at a time, each logged.
//
// A link that carries the full budget and loses pieces at random of its own gets each piece twice: every
// lost piece would cost a whole picture, and the pictures after it until the stream is whole again. The
// copies go only while the link stays calm and they help: the first sign of a full link ends them, and
// so does a client that has a broken picture nearly all the time with them (the test took the link's
// load for its nature: the rate comes down below where the test went); they are not tried again for a
// while, longer each time. Two minutes without a loss end them too.
//
// Time comes from the clock given; nothing of its own runs. One thread at a time.
class LinkRate {
public:
    // Why the rate, or what is sent at it, changed.
    enum class Reason {
        linkFull,
        roundTripGrew,
        linkBackedUp,
        nothingWhole,
        picturesLost,
        lossesStayed,
        noLosses,
        calm,
        fullBudget,
        probing,         // copies of the pieces, to see whether the link carries more
        probeFailed,     // it did not: the copies end
        linkCarriesMore, // it did
        copiesInVain,    // the losses went on with each piece twice: they were the link's load after all
    };
    struct Change {
        SendRate rate;
        Reason reason;
        bool twice = false; // each piece sent twice
        // The rate itself came down.
        bool lower() const;
        // A change of the rate, not only of the copies.
        bool ofRate() const { return reason != Reason::probing && reason != Reason::probeFailed; }
        // "• link: sending 3.0 Mbit/s at 30 fps — pictures were being lost"; a probe's "• link: probing …".
        std::string logLine() const;
    };
    using Ask = LinkSignals::Ask;

    static constexpr int64_t floorBitRate = 500000;
    static constexpr int minFrameRate = 10;
    // Bits a picture worth sending: below it the frame rate comes down with the bit rate.
    static constexpr int64_t bitsPerPicture = 80000;
    // Lowerings at least this far apart; what was lost in the link's queue before a lowering took
    // effect says nothing of the new rate for `settle`.
    static constexpr std::chrono::seconds lowerGap{2};
    static constexpr std::chrono::milliseconds settle{1000};
    // Calm this long before a step up; a step up is judged for twice as long after it.
    static constexpr std::chrono::seconds calmSpell{4};
    // Below the ceiling by no more than this ratio, the rate has found the link and settles.
    static constexpr double settledGap = 1.25;
    // Probing with copies: this long, the first this long after settling, each that failed making the
    // next wait this much longer, up to the longest. Asks for pictures lost before it began, and round
    // trips measured before, come within the grace.
    static constexpr std::chrono::seconds probeLength{3};
    static constexpr std::chrono::seconds firstProbeWait{15};
    static constexpr int probeWaitGrowth = 2;
    static constexpr std::chrono::seconds longestProbeWait{300};
    static constexpr std::chrono::milliseconds probeGrace{150};
    static constexpr std::chrono::seconds probeAftermath{2};
    // A test of persistent losses: the rate halved for this long (after settling) tells whether they
    // fall with it. The next test waits at least this long, twice as long after each that found the
    // losses to be the link's nature.
    static constexpr std::chrono::seconds lossTestLength{3};
    static constexpr std::chrono::seconds firstLossTestGap{20};
    // Each piece twice for losses of the link's own: not again for this long after the copies filled the
    // link (twice as long each time), and no longer once this long went by without a loss.
    static constexpr std::chrono::seconds firstCopiesWait{60};
    static constexpr std::chrono::seconds copiesWithoutLoss{120};
    // Losses count as fallen with the rate below this share of what they were. Asks this thick (a
    // second) say little: the client asks at most a few times a second however many it lost.
    static constexpr double fellTo = 0.4;
    // A queue fell with the rate when the round trips' median came down this much.
    static constexpr std::chrono::milliseconds queueFell{15};
    static constexpr double thickAsks = 3;

    explicit LinkRate(Scheduler& clock);

    // A session on a link whose base is `base`: the rate starts there, nothing before counts.
    void reset(SendRate base);
    SendRate base() const { return base_; }
    SendRate current() const { return rate_; }
    // Each piece goes twice: for losses of the link's own, or to probe it.
    bool twice() const { return lossCopies_ || probeStarted_.has_value(); }
    // The link has been in trouble, or the rate below its base, since the session began.
    bool lossesSeen() const { return troubled_; }
    // The frame rate for `bitRate` on the current base.
    int frameRateFor(int64_t bitRate) const;
    // An encoder that takes a new rate only by starting afresh, with a keyframe: few, large steps.
    void coarseSteps(bool coarse) { coarse_ = coarse; }
    // Pieces can go twice on the way the session's video takes (datagrams; the relay's stream loses
    // nothing). Without, a probe is a step of the rate.
    void copiesPossible(bool possible) { copiesPossible_ = possible; }

    // The signals, as they come (LinkSignals says what each is).
    void keyframeAsked(Ask why);
    void picture(std::size_t pieces, bool leftOut = false);
    void controlLink(const ControlLinkReading& reading);
    void backlog(std::size_t bytes);
    // Looks at what came since the last call: a change, or nothing. Call it a few times a second.
    std::optional<Change> decide();

    const LinkSignals& seen() const { return signals_; }

private:
    enum class Step { none, lowered, up, test, back, restored };
    struct LossTest {
        int64_t from = 0;  // where the test began
        int64_t above = 0; // where its latest lowering came from
        Instant at{};      // the latest lowering of the test
        double lossBefore = 0;
        double asksBefore = 0; // asks for lost pictures a second at `from`
    };
    // Each piece twice since `from`, after a test that went down to `lowest` and found the losses the
    // link's own.
    struct LossCopies {
        Instant from{};
        int64_t lowest = 0;
    };

    Duration since(const std::optional<Instant>& t) const;
    double asksPerSecond(Instant from, Instant to) const;
    // The decisions, one for each state the link can be in.
    std::optional<Change> whenFull(Reason why);
    std::optional<Change> judgeProbe(const LinkSignals::Evidence& e);
    std::optional<Change> judgeLossTest(const LinkSignals::Evidence& e);
    std::optional<Change> testLosses();
    std::optional<Change> endLossCopies(Reason why);
    // The copies have had their time and the client still has a broken picture nearly all the time.
    bool copiesInVain() const;
    // A step up that brought losses the link had not shown before it, with nothing else to tell.
    bool stepBroughtLosses() const;
    std::optional<Change> climb(const LinkSignals::Evidence& e);
    // Settled close below the ceiling: a probe when it is due.
    std::optional<Change> probeWhenDue();
    // Where a step up from `rate_` goes, and when at the soonest.
    struct Target {
        int64_t bitRate;
        Instant notBefore;
    };
    Target nextStepUp() const;
    bool settled() const;
    Change change(int64_t bitRate, Reason why, Step step);
    Change same(Reason why) const { return {rate_, why, twice()}; }
    SendRate at(int64_t bitRate) const;
    static Reason reasonFor(const LinkSignals::Evidence& e);

    Scheduler& clock_;
    LinkSignals signals_;
    SendRate base_;
    SendRate rate_;
    int64_t floor_ = floorBitRate;
    bool coarse_ = false;
    bool copiesPossible_ = true;
    bool troubled_ = false;

    Instant start_{};
    std::optional<Instant> lastChange_;
    Step lastStep_ = Step::none;
    int64_t stepFrom_ = 0;          // where the last step up came from
    double lossBeforeStep_ = 0;     // the share of pieces lost in the calm spell before it
    double asksBeforeStep_ = 0;     // and the asks for lost pictures a second
    std::optional<Instant> fullAt_; // the link behaved as a full one, latest
    int64_t ceiling_ = 0;           // the lowest rate that filled the link lately; 0: none

    std::optional<Instant> probeDue_;     // the next probe, once settled close below the ceiling
    std::optional<Instant> probeStarted_; // a probe under way
    std::optional<Instant> probeEnded_;   // the last probe that failed: its queue says nothing of the rate
    Duration probeWait_ = firstProbeWait; // how long after a failed probe the next one waits

    std::optional<LossCopies> lossCopies_;
    std::optional<Instant> lossCopiesAgainAt_; // the copies filled the link: not before then
    Duration lossCopiesWait_ = firstCopiesWait;

    std::optional<LossTest> lossTest_;
    std::optional<Instant> lossTestEnded_;
    Duration lossTestGap_ = firstLossTestGap;
};

} // namespace dovrel::agent
