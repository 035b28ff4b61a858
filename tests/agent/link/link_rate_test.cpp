// The rule the agent follows the link by, on a fake clock, against a simulated link and a controller
// that asks for keyframes only as the plain WEX controller does: a link that loses at random keeps its
// rate, a full one brings it down, a steady slow one sees it settle below it and stay, one that gets
// fast again sees it climb back; and the signals it is judged by.
#include <gtest/gtest.h>

#include "SimulatedLink.h"

using namespace dovrel;
using namespace dovrel::agent;
using namespace dovrel::test;
using namespace std::chrono_literals;

namespace {

const SendRate lan{12000000, 60};

std::string timeline(const SimulatedSession& s) {
    std::string out;
    for (const auto& seen : s.changes())
        out += std::to_string(std::chrono::duration<double>(seen.at - s.start()).count()) + " s " +
               seen.change.logLine() + "\n";
    return out;
}

} // namespace

TEST(LinkRate, AFastLinkThatLosesAtRandomKeepsItsRate) {
    for (const double loss : {0.005, 0.01}) {
        SimulatedSession s(lan, {.videoLoss = loss});
        s.run(60s);
        SCOPED_TRACE(timeline(s));
        // A test of the losses now and then, which finds them the link's own and goes straight back.
        EXPECT_LE(s.timeAbove(lan.bitRate - 1, 10s, 60s), 50s);
        EXPECT_GE(s.timeAbove(lan.bitRate - 1, 10s, 60s), 40s) << "loss " << loss;
        for (const auto& seen : s.changes())
            EXPECT_TRUE(seen.change.rate.bitRate == lan.bitRate ||
                        seen.change.reason == LinkRate::Reason::picturesLost);
        EXPECT_GE(s.wholePerSecond(10s, 60s), 40);
    }
}

TEST(LinkRate, AFastLinkThatLosesAtRandomGetsEachPieceTwiceUntilItFills) {
    SimulatedSession s(lan, {.videoLoss = 0.01});
    s.run(20s);
    SCOPED_TRACE(timeline(s));
    ASSERT_TRUE(s.rule().twice());
    EXPECT_EQ(s.rule().current(), lan);
    EXPECT_GE(s.wholePerSecond(12s, 20s), 55) << "hardly a picture lost";
    // The link gets slower: the copies go first, then the rate comes down.
    s.setLink({.bitRate = 15000000, .videoLoss = 0.01});
    s.run(30s);
    EXPECT_FALSE(s.rule().twice());
    const auto& changes = s.changes();
    const auto ended = std::find_if(changes.begin(), changes.end(),
                                    [&](const auto& seen) { return seen.at >= s.start() + 20s && !seen.change.twice; });
    ASSERT_NE(ended, changes.end());
    EXPECT_EQ(ended->change.rate, lan) << "the copies end before the rate changes";
    EXPECT_GE(s.wholePerSecond(40s, 50s), 40);
}

TEST(LinkRate, AFullLinkBringsItDownWithAControllerThatAsksOnlyForGaps) {
    SimulatedSession s(lan, {.bitRate = 1000000});
    s.run(30s);
    SCOPED_TRACE(timeline(s));
    ASSERT_FALSE(s.changes().empty());
    EXPECT_TRUE(s.changes().front().change.lower());
    EXPECT_LE(s.changes().front().at - s.start(), 4s) << "the first lowering comes within seconds";
    EXPECT_LE(s.timeAbove(1000000, 12s, 30s), 3s);
    EXPECT_GE(s.wholePerSecond(10s, 30s), 4);
    EXPECT_LE(s.longestFreeze(10s, 30s), 3s);
}

TEST(LinkRate, ASteadySlowLinkSeesTheRateSettleBelowItAndStay) {
    SimulatedSession s(lan, {.bitRate = 5000000});
    s.run(600s);
    SCOPED_TRACE(timeline(s));
    EXPECT_LE(s.changesBetween(30s, 90s), 2u);
    EXPECT_GE(s.wholePerSecond(30s, 90s), 25);
    EXPECT_GE(s.wholeBitsPerSecond(30s, 90s), 3500000);
    EXPECT_LE(s.longestFreeze(30s, 90s), 1s);
    EXPECT_EQ(s.timeAbove(5000000, 30s, 600s), 0s);
    // Whether the link got faster is asked with copies of the pieces, ever more rarely, up to minutes
    // apart; each probe ends within a second when the link does not carry them.
    std::vector<Instant> probes;
    const auto& changes = s.changes();
    for (std::size_t i = 0; i < changes.size(); ++i) {
        if (changes[i].change.reason != LinkRate::Reason::probing) continue;
        probes.push_back(changes[i].at);
        ASSERT_LT(i + 1, changes.size());
        EXPECT_EQ(changes[i + 1].change.reason, LinkRate::Reason::probeFailed);
        EXPECT_LE(changes[i + 1].at - changes[i].at, 1s);
    }
    ASSERT_GE(probes.size(), 4u);
    for (std::size_t i = 2; i < probes.size(); ++i)
        EXPECT_GE(probes[i] - probes[i - 1], probes[i - 1] - probes[i - 2]) << "probe " << i;
    EXPECT_GE(probes.back() - probes[probes.size() - 2], 2min);
}

TEST(LinkRate, WhereNoPieceCanGoTwiceAProbeIsAStepToTheCeilingEverMoreRarely) {
    SimulatedSession s(lan, {.bitRate = 5000000, .noCopies = true});
    s.run(600s);
    SCOPED_TRACE(timeline(s));
    std::vector<Instant> steps;
    for (const auto& seen : s.changes()) {
        EXPECT_FALSE(seen.change.twice);
        if (seen.at > s.start() + 30s && !seen.change.lower()) steps.push_back(seen.at);
    }
    ASSERT_GE(steps.size(), 3u);
    for (std::size_t i = 2; i < steps.size(); ++i)
        EXPECT_GT(steps[i] - steps[i - 1], steps[i - 1] - steps[i - 2]) << "step " << i;
    EXPECT_GE(s.wholePerSecond(30s, 600s), 40);
}

TEST(LinkRate, OnceTheLinkIsFastAgainTheRateClimbsBackToItsBase) {
    for (const int64_t slow : {3000000, 1000000}) {
        SimulatedSession s(lan, {.bitRate = slow});
        s.run(30s);
        EXPECT_LT(s.rule().current().bitRate, slow);
        s.setLink({});
        s.run(40s);
        SCOPED_TRACE(timeline(s));
        EXPECT_GT(s.timeAbove(6000000, 30s, 60s), 0s) << "over 6 Mbit/s within 30 s after " << slow;
        EXPECT_EQ(s.rule().current(), lan);
    }
}

TEST(LinkRate, LossesThatFallWithTheRateKeepItDownWhereTheControlConnectionShowsNothing) {
    // A router that queues each flow apart: the video's queue overflows, the control connection's does not.
    SimulatedSession s(lan, {.bitRate = 5000000, .controlApart = true});
    s.run(40s);
    SCOPED_TRACE(timeline(s));
    EXPECT_LE(s.timeAbove(5000000, 20s, 40s), 8s);
    EXPECT_GE(s.wholePerSecond(20s, 40s), 20);
}

TEST(LinkRate, WhereOnlyTheVideoQueuesAndEveryBrokenPictureIsAskedForAWrongVerdictDoesNotLast) {
    // The video's queue apart from the control connection, a client that asks on every broken picture
    // (as often as it may, whatever the rate above the link), halvings from the base that land on the
    // link's own rate, where losses fall less than they would below it, or that stay far above it.
    struct Case {
        int64_t link;
        double wholePerSecond;
    };
    for (const Case c : {Case{3000000, 20}, Case{1000000, 5}})
        for (const uint32_t seed : {7u, 11u, 23u}) {
            SimulatedSession s(lan, {.bitRate = c.link, .controlApart = true, .asksOnBroken = true}, seed);
            s.run(60s);
            SCOPED_TRACE(timeline(s));
            // A wrong verdict lasts until the next test at the longest, not for minutes.
            EXPECT_LE(s.timeAbove(c.link, 20s, 60s), LinkRate::firstLossTestGap) << c.link << " seed " << seed;
            EXPECT_LT(s.rule().current().bitRate, c.link);
            EXPECT_FALSE(s.rule().twice());
            EXPECT_GE(s.wholePerSecond(30s, 60s), c.wholePerSecond);
        }
}

TEST(LinkRate, ABaseBelowTheFloorStaysAndANewSessionStartsAtItsBase) {
    SimulatedSession s({300000, 30}, {.bitRate = 200000});
    s.run(20s);
    EXPECT_TRUE(s.changes().empty());
    s.rule().reset(lan);
    EXPECT_EQ(s.rule().current(), lan);
    EXPECT_FALSE(s.rule().lossesSeen());
}

TEST(LinkSignals, AQueueShowsInTheRoundTripsBeyondTheAcknowledgementsTheClientHoldsBack) {
    LinkSignals signals;
    Instant t{std::chrono::hours(1)};
    // The smoothed estimate moves an eighth of the way towards each sample.
    std::chrono::microseconds smoothed{200};
    const auto sample = [&](std::chrono::milliseconds m) {
        t += 400ms;
        smoothed += (std::chrono::microseconds(m) - smoothed) / 8;
        signals.control(t, {smoothed, 0});
    };
    signals.control(t, {smoothed, 0}); // the handshake's
    sample(30ms);
    ASSERT_TRUE(signals.latestRoundTrip());
    EXPECT_NEAR(static_cast<double>(signals.latestRoundTrip()->count()), 30000, 100);
    // Acknowledgements held back by tens of milliseconds, a quick one now and then, beside losses: a
    // lossy link, not a full one.
    const Instant calmFrom = t;
    for (const auto m : {25ms, 45ms, 27ms, 24ms, 0ms, 45ms, 24ms, 26ms, 23ms, 28ms, 45ms}) {
        sample(m);
        signals.ask(t, LinkSignals::Ask::lost);
        EXPECT_FALSE(signals.look(t, calmFrom).queueGrew) << "at " << m.count() << " ms";
        EXPECT_FALSE(signals.look(t, calmFrom).full());
    }
    // Fifty milliseconds of queue in front of each of them.
    const Instant queueFrom = t;
    for (const auto m : {75ms, 52ms, 80ms, 78ms})
        sample(m);
    signals.ask(t, LinkSignals::Ask::lost);
    const auto e = signals.look(t, queueFrom);
    EXPECT_TRUE(e.queueGrew);
    EXPECT_TRUE(e.full());
    // Only what came after the moment asked counts (the queue before a change says nothing of it).
    EXPECT_FALSE(signals.look(t, t).queueGrew);
}

TEST(LinkSignals, AClientThatSeesNothingWholeAsksOnceASecondAndThatIsAFullLink) {
    LinkSignals signals;
    Instant t{std::chrono::hours(1)};
    const Instant from = t;
    for (int ms = 0; ms < 5000; ms += 16) {
        signals.picture(t + std::chrono::milliseconds(ms), 12);
        if (ms % 1008 < 16 && ms > 0) signals.ask(t + std::chrono::milliseconds(ms), LinkSignals::Ask::lost);
    }
    t += 5000ms;
    EXPECT_TRUE(signals.look(t, from).frozen);
    EXPECT_TRUE(signals.look(t, from).full());
    // Asks at a pace that follows the gaps whole pictures show are no freeze.
    LinkSignals lossy;
    for (int ms = 0; ms < 4000; ms += 16) {
        lossy.picture(from + std::chrono::milliseconds(ms), 12);
        if (ms % 592 < 16 || ms % 400 < 16) lossy.ask(from + std::chrono::milliseconds(ms), LinkSignals::Ask::lost);
    }
    EXPECT_FALSE(lossy.look(t, from).frozen);
}

TEST(LinkSignals, AsksThatComeAsSoonAsTheClientMayAskAreToldFromThoseBetweenWholePictures) {
    const auto promptWith = [](std::initializer_list<int> gapsMs) {
        LinkSignals signals;
        const Instant from{std::chrono::hours(1)};
        Instant t = from;
        signals.ask(t, LinkSignals::Ask::lost);
        for (const int gap : gapsMs)
            signals.ask(t += std::chrono::milliseconds(gap), LinkSignals::Ask::lost);
        return signals.promptAsks(from, t + 1ms);
    };
    // A broken picture all the time: each ask the first picture after the client may ask again.
    EXPECT_EQ(promptWith({251, 267, 251, 284, 251, 300}), 1.0);
    // Broken pictures now and then, whole ones between.
    EXPECT_LT(promptWith({251, 610, 480, 1200, 267, 900}), 0.5);
    // The once-a-second asks of a client that sees nothing whole are none of them.
    EXPECT_EQ(promptWith({1000, 1008, 992}), 0.0);
    EXPECT_EQ(promptWith({}), 0.0);
}

TEST(LinkSignals, AsksRightAfterAPictureTheAgentLeftOutAreItsOwnAndPieceLossIsPerPiece) {
    LinkSignals signals;
    Instant t{std::chrono::hours(1)};
    for (int i = 0; i < 60; ++i)
        signals.picture(t += 16ms, 20);
    // One picture in sixty lost, of twenty pieces each: about one piece in 1200.
    signals.ask(t, LinkSignals::Ask::lost);
    EXPECT_NEAR(signals.pieceLoss(t - 2s, t + 1ms), 1.0 / 1200, 0.0001);
    signals.picture(t += 16ms, 0, true);
    signals.ask(t += 100ms, LinkSignals::Ask::lost);
    signals.ask(t += 100ms, LinkSignals::Ask::still);
    signals.ask(t += 100ms, LinkSignals::Ask::joining);
    EXPECT_EQ(signals.lostAsks(t - 5s, t + 1ms), 1u);
    signals.ask(t += LinkSignals::ownAskWindow, LinkSignals::Ask::lost);
    EXPECT_EQ(signals.lostAsks(t - 5s, t + 1ms), 2u);
}

TEST(LinkRate, TheLargestBaseGoesThroughEveryRuleWithoutOverflow) {
    // A gigabit, the most DOVREL_BITRATE sets (the sanitizer build ends the test at an overflow).
    test::FakeScheduler clock;
    LinkRate rule(clock);
    rule.reset({1'000'000'000, 60});
    std::size_t queued = 0;
    std::optional<LinkRate::Change> first;
    for (int i = 0; i < 8; ++i) {
        rule.keyframeAsked(LinkRate::Ask::lost);
        rule.backlog(queued += std::size_t{1} << 28);
        clock.advance(250ms);
        if (auto c = rule.decide(); c && !first) first = c;
    }
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->lower());
    for (int i = 0; i < 2400; ++i) {
        rule.backlog(0);
        clock.advance(250ms);
        rule.decide();
    }
    EXPECT_EQ(rule.current().bitRate, 1'000'000'000);
}
