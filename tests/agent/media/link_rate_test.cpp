// The rate the agent sends at, on a fake clock: losses bring it down quickly to the floor and no lower,
// a calm spell brings it back up in steps to the link's base and no higher, one change at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "../../support/FakeScheduler.h"
#include "agent/media/LinkRate.h"

using namespace dovrel;
using namespace dovrel::agent;
using namespace std::chrono_literals;

namespace {

// A session on a link: the signals as `each` gives them every quarter second, the rule asked twice a
// second, as the pipeline does.
struct Link {
    test::FakeScheduler clock;
    LinkRate rate{clock};
    struct Seen {
        Instant at;
        LinkRate::Change change;
    };
    std::vector<Seen> changes;

    explicit Link(VideoBudget base = VideoBudget::lan()) { rate.reset(base); }

    void run(Duration length, const std::function<void()>& each = {}) {
        for (Duration t{}; t < length; t += 250ms) {
            if (each) each();
            clock.advance(250ms);
            if ((t / 250ms) % 2 == 1)
                if (auto c = rate.decide()) changes.push_back({clock.now(), *c});
        }
    }
    // Changes seen from `from` on.
    std::vector<Seen> since(std::size_t from) const {
        return {changes.begin() + static_cast<long>(from), changes.end()};
    }
};

void expectApart(const std::vector<Link::Seen>& seen, Duration gap) {
    for (std::size_t i = 1; i < seen.size(); ++i)
        EXPECT_GE(seen[i].at - seen[i - 1].at, gap) << "change " << i;
}

} // namespace

TEST(LinkRate, LossesHalveItDownToTheFloorAndACalmSpellBringsItBackToTheBaseAndNoHigher) {
    Link link;
    link.run(30s, [&] { link.rate.keyframeAsked(true); });
    ASSERT_GE(link.changes.size(), 4u);
    EXPECT_LE(link.changes.front().at - link.clock.now() + 30s, 1s) << "the first losses act at once";
    int64_t before = 12000000;
    for (const auto& [at, change] : link.changes) {
        EXPECT_EQ(change.rate.bitRate, std::max(LinkRate::floorBitRate, before / 2));
        before = change.rate.bitRate;
    }
    expectApart(link.changes, LinkRate::lowerGap);
    // At the floor, with the frame rate down too, the losses go on and nothing more changes.
    EXPECT_EQ(link.rate.budget().averageBitRate, LinkRate::floorBitRate);
    EXPECT_EQ(link.rate.budget().expectedFrameRate, LinkRate::minFrameRate);
    EXPECT_LT(link.changes.back().at, link.clock.now() - 10s);

    // Once they stop it climbs, each step up from the one before, to the base and no higher.
    const std::size_t lowered = link.changes.size();
    const Instant lastLoss = link.clock.now() - 250ms; // the last quarter asked
    link.run(60s);
    const auto raises = link.since(lowered);
    ASSERT_GE(raises.size(), 3u);
    EXPECT_GE(raises.front().at - lastLoss, LinkRate::calmSpell);
    for (const auto& [at, change] : raises) {
        EXPECT_GT(change.rate.bitRate, before);
        before = change.rate.bitRate;
    }
    expectApart(raises, LinkRate::raiseGap);
    EXPECT_EQ(link.rate.budget(), VideoBudget::lan());
    EXPECT_EQ(raises.back().change.reason, LinkRate::Reason::fullBudget);
    const auto half =
        std::find_if(raises.begin(), raises.end(), [](const auto& s) { return s.change.rate.bitRate > 6000000; });
    ASSERT_NE(half, raises.end());
    EXPECT_LT(half->at - lastLoss, 30s);
}

TEST(LinkRate, AStepUpThatBringsLossesIsTakenBackAndTriedAgainOnlyAfterALongerWait) {
    Link link;
    // A link that carries 2 Mbit/s: losses whenever more is sent.
    const auto link2M = [&] {
        if (link.rate.current().bitRate > 2000000) link.rate.keyframeAsked(true);
    };
    link.run(90s, link2M);

    // A step up that brings losses goes back to a rate that was calm, not to half of it; from there the
    // next step up waits longer than after the trouble before.
    std::vector<Duration> waits;
    for (std::size_t i = 1; i + 1 < link.changes.size(); ++i) {
        const auto &up = link.changes[i - 1], &back = link.changes[i], &next = link.changes[i + 1];
        if (up.change.lower() || !back.change.lower() || next.change.lower()) continue;
        EXPECT_LE(back.change.rate.bitRate, 2000000);
        EXPECT_GT(back.change.rate.bitRate, up.change.rate.bitRate / 2);
        waits.push_back(next.at - back.at);
    }
    ASSERT_GE(waits.size(), 3u);
    EXPECT_TRUE(std::is_sorted(waits.begin(), waits.end()));
    EXPECT_GT(waits.back(), waits.front());
    EXPECT_LE(waits.back(), LinkRate::longestProbeCalm + 1s);
    // Once it has found the link (the first step taken back), it spends most of its time just below
    // what the link carries, rather than above it or far below.
    Duration above{}, just{}, far{};
    for (std::size_t i = 4; i < link.changes.size(); ++i) {
        const Instant end = i + 1 < link.changes.size() ? link.changes[i + 1].at : link.clock.now();
        const int64_t bits = link.changes[i].change.rate.bitRate;
        (bits > 2000000 ? above : bits >= 1700000 ? just : far) += end - link.changes[i].at;
    }
    EXPECT_GT(just, 4 * above);
    EXPECT_GT(just, 4 * far);
    expectApart(link.changes, LinkRate::lowerGap);
}

TEST(LinkRate, ARoundTripOrBacklogThatKeepsGrowingLowersItOneThatDrainsDoesNot) {
    Link link;
    // A steady round trip is no trouble, nor one that an acknowledgement held back now and then
    // stretches by tens of milliseconds.
    int quarter = 0;
    link.run(10s, [&] { link.rate.roundTrip(++quarter % 3 == 0 ? 45ms : 2ms); });
    EXPECT_TRUE(link.changes.empty());
    auto rtt = 2ms;
    link.run(1s, [&] { link.rate.roundTrip(rtt += 40ms); });
    ASSERT_EQ(link.changes.size(), 1u);
    EXPECT_EQ(link.changes[0].change.reason, LinkRate::Reason::roundTripGrew);
    // Falling back as the queue drains, though still above the best: it does not come down further.
    link.run(10s, [&] { link.rate.roundTrip(rtt = std::max(rtt - 10ms, 60ms)); });
    for (const auto& seen : link.since(1))
        EXPECT_FALSE(seen.change.lower());

    Link relay(VideoBudget::relay());
    std::size_t queued = 0;
    relay.run(1s, [&] { relay.rate.backlog(queued += 40000); });
    ASSERT_EQ(relay.changes.size(), 1u);
    EXPECT_EQ(relay.changes[0].change.reason, LinkRate::Reason::linkBackedUp);
    relay.run(5s, [&] { relay.rate.backlog(queued = queued > 20000 ? queued - 20000 : 0); });
    for (const auto& seen : relay.since(1))
        EXPECT_FALSE(seen.change.lower());
}

// The largest DOVREL_BITRATE there is goes through every rule as any rate does (the sanitizer build ends
// the test at an overflow): losses and a backlog bring it down, a calm spell back up to its base.
TEST(LinkRate, TheLargestBitRateOverrideGoesThroughTheRulesWithoutOverflow) {
    Link link(VideoBudget::lan().withOverrides("9223372036854775807", std::nullopt));
    EXPECT_EQ(link.rate.current().bitRate, VideoBudget::maxBitRate);
    std::size_t queued = 0;
    link.run(2s, [&] {
        link.rate.keyframeAsked(true);
        link.rate.backlog(queued += std::size_t{1} << 28);
    });
    ASSERT_FALSE(link.changes.empty());
    EXPECT_TRUE(link.changes.front().change.lower());
    link.run(10min);
    EXPECT_EQ(link.rate.current().bitRate, VideoBudget::maxBitRate);
}

TEST(LinkRate, KeyframesAskedNowAndThenAreNoTroubleButAsksThatComeThickAre) {
    Link link;
    // A client that joins asks, and asks again as its window opens; one that looks at a still picture
    // asks about once a second, and so does one on a fast link that loses a picture now and then, which
    // a lower rate would not help.
    link.rate.keyframeAsked(false);
    link.run(500ms);
    link.rate.keyframeAsked(false);
    int quarter = 0;
    const auto everySecond = [&](bool lost) {
        return [&, lost] {
            if (++quarter % 4 == 0) link.rate.keyframeAsked(lost);
        };
    };
    link.run(20s, everySecond(false));
    link.run(20s, everySecond(true));
    EXPECT_TRUE(link.changes.empty());
    link.run(1500ms, [&] { link.rate.keyframeAsked(true); });
    ASSERT_EQ(link.changes.size(), 1u);
    EXPECT_TRUE(link.changes[0].change.lower());
    // Pictures still lost now and then keep it where it is; once they stop, it rises.
    link.run(20s, everySecond(true));
    EXPECT_EQ(link.changes.size(), 1u);
    link.run(LinkRate::calmSpell + 1s);
    ASSERT_EQ(link.changes.size(), 2u);
    EXPECT_FALSE(link.changes[1].change.lower());
}

TEST(LinkRate, ABaseBelowTheFloorStaysAndANewSessionStartsAtItsBase) {
    const VideoBudget low = VideoBudget::relay().withOverrides("300000", std::nullopt);
    Link link(low);
    link.run(10s, [&] { link.rate.keyframeAsked(true); });
    EXPECT_TRUE(link.changes.empty());
    EXPECT_EQ(link.rate.budget(), low);
    link.rate.reset(VideoBudget::lan());
    EXPECT_EQ(link.rate.current(), (SendRate{12000000, 60}));
}
