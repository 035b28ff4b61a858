#include "agent/link/LinkRate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace dovrel::agent {

namespace {

// Steps up: big ones while no trouble is remembered; one near step past where it was; at least the
// least step below it. An encoder that starts afresh for every step takes fewer, larger ones.
constexpr double freeStep = 2.0;
constexpr double nearStep = 1.25;
constexpr double leastStep = 1.05;
constexpr double coarseLeastStep = 1.3;
constexpr double coarseSettledGap = 1.6;
// While no trouble is remembered, the calm before a big step up.
constexpr auto freeCalm = std::chrono::seconds(2);
// Losses of more than this share of the pieces hold the rate where it is.
constexpr double holdingLoss = 0.02;
// A step up is answered by trouble within this long, or not at all: later trouble is the link's own.
constexpr auto stepJudged = 2 * LinkRate::calmSpell;
// Calm this long at the ceiling says the link got faster: longer than a queue takes to show.
constexpr auto ceilingJudged = std::chrono::seconds(6);
// Copies are judged from this long after they began, by this many asks at least, of which this share
// came as soon as the client could ask.
constexpr auto copiesJudged = std::chrono::seconds(2);
constexpr std::size_t copiesJudgedAsks = 8;
constexpr double promptShare = 0.8;

const char* wordsFor(LinkRate::Reason why) {
    switch (why) {
    case LinkRate::Reason::linkFull: return "the link's queue overflowed";
    case LinkRate::Reason::roundTripGrew: return "the link's round trip kept growing";
    case LinkRate::Reason::linkBackedUp: return "the link could not keep up with what was sent";
    case LinkRate::Reason::nothingWhole: return "no picture came through whole";
    case LinkRate::Reason::picturesLost: return "pictures were being lost";
    case LinkRate::Reason::lossesStayed: return "the losses are the link's own, not its load";
    case LinkRate::Reason::noLosses: return "no piece lost lately";
    case LinkRate::Reason::calm: return "pictures come through whole";
    case LinkRate::Reason::fullBudget: return "the link's full budget again";
    case LinkRate::Reason::probing: return "does the link carry more?";
    case LinkRate::Reason::probeFailed: return "the link carries no more";
    case LinkRate::Reason::linkCarriesMore: return "the link carried twice the rate";
    case LinkRate::Reason::copiesInVain: return "pictures were lost with each piece twice as well";
    }
    return "";
}

} // namespace

bool LinkRate::Change::lower() const {
    switch (reason) {
    case Reason::linkFull:
    case Reason::roundTripGrew:
    case Reason::linkBackedUp:
    case Reason::nothingWhole:
    case Reason::picturesLost:
    case Reason::copiesInVain: return !twice;
    default: return false;
    }
}

std::string LinkRate::Change::logLine() const {
    char text[200];
    // Below a megabit a tenth would hide a step.
    const int decimals = rate.bitRate < 1000000 ? 2 : 1;
    const double mbit = static_cast<double>(rate.bitRate) / 1e6;
    if (!ofRate())
        std::snprintf(text, sizeof text, "• link: probing at %.*f Mbit/s%s — %s", decimals, mbit,
                      twice ? " with each piece twice" : ", each piece once again", wordsFor(reason));
    else
        std::snprintf(text, sizeof text, "• link: sending %.*f Mbit/s at %d fps%s — %s", decimals, mbit, rate.frameRate,
                      twice ? ", each piece twice" : "", wordsFor(reason));
    return text;
}

LinkRate::LinkRate(Scheduler& clock) : clock_(clock) {}

void LinkRate::reset(SendRate base) {
    signals_.reset();
    base_ = base;
    rate_ = base;
    floor_ = std::min(floorBitRate, base.bitRate);
    troubled_ = false;
    start_ = clock_.now();
    lastChange_.reset();
    lastStep_ = Step::none;
    stepFrom_ = 0;
    lossBeforeStep_ = 0;
    asksBeforeStep_ = 0;
    fullAt_.reset();
    ceiling_ = 0;
    probeDue_.reset();
    probeStarted_.reset();
    probeEnded_.reset();
    probeWait_ = firstProbeWait;
    lossCopies_.reset();
    lossCopiesAgainAt_.reset();
    lossCopiesWait_ = firstCopiesWait;
    lossTest_.reset();
    lossTestEnded_.reset();
    lossTestGap_ = firstLossTestGap;
}

int LinkRate::frameRateFor(int64_t bitRate) const {
    const int full = std::max(base_.frameRate, 1);
    if (bitRate >= base_.bitRate) return full;
    const int64_t perPicture = std::max<int64_t>(std::min(bitsPerPicture, base_.bitRate / full), 1);
    return static_cast<int>(std::clamp<int64_t>(bitRate / perPicture, std::min(minFrameRate, full), full));
}

SendRate LinkRate::at(int64_t bitRate) const { return {bitRate, frameRateFor(bitRate)}; }

double LinkRate::asksPerSecond(Instant from, Instant to) const {
    return static_cast<double>(signals_.lostAsks(from, to)) / std::chrono::duration<double>(to - from).count();
}

Duration LinkRate::since(const std::optional<Instant>& t) const { return t ? clock_.now() - *t : Duration::max(); }

void LinkRate::keyframeAsked(Ask why) { signals_.ask(clock_.now(), why); }
void LinkRate::picture(std::size_t pieces, bool leftOut) { signals_.picture(clock_.now(), pieces, leftOut); }
void LinkRate::controlLink(const ControlLinkReading& reading) { signals_.control(clock_.now(), reading); }
void LinkRate::backlog(std::size_t bytes) { signals_.backlog(clock_.now(), bytes, rate_.bitRate); }

LinkRate::Reason LinkRate::reasonFor(const LinkSignals::Evidence& e) {
    return e.backedUp    ? Reason::linkBackedUp
           : e.queueGrew ? Reason::roundTripGrew
           : e.frozen    ? Reason::nothingWhole
                         : Reason::linkFull;
}

LinkRate::Change LinkRate::change(int64_t bitRate, Reason why, Step step) {
    if (step == Step::up) {
        stepFrom_ = rate_.bitRate;
        lossBeforeStep_ = signals_.pieceLoss(clock_.now() - calmSpell, clock_.now());
        asksBeforeStep_ = asksPerSecond(clock_.now() - calmSpell, clock_.now());
    }
    rate_ = at(bitRate);
    lastChange_ = clock_.now();
    lastStep_ = step;
    if (rate_.bitRate < base_.bitRate) troubled_ = true;
    return same(why);
}

bool LinkRate::settled() const {
    return ceiling_ > rate_.bitRate && static_cast<double>(ceiling_) <= static_cast<double>(rate_.bitRate) *
                                                                            (coarse_ ? coarseSettledGap : settledGap);
}

std::optional<LinkRate::Change> LinkRate::decide() {
    const Instant now = clock_.now();
    // Right after the rate came down, what is still in the link's queue was sent at the old one.
    const bool lowered = lastStep_ == Step::lowered || lastStep_ == Step::back || lastStep_ == Step::test;
    Instant from = lastChange_ ? *lastChange_ + (lowered ? Duration(settle) : Duration{}) : Instant{};
    // Nor does the queue a probe's copies left behind.
    if (probeEnded_) from = std::max(from, *probeEnded_ + settle);
    const LinkSignals::Evidence e = signals_.look(now, from);
    if (e.full()) {
        fullAt_ = now;
        troubled_ = true;
    }
    if (probeStarted_) return judgeProbe(e);
    if (lossTest_) return judgeLossTest(e);
    if (lossCopies_ && e.crowded()) return endLossCopies(reasonFor(e));
    if (lossCopies_ && copiesInVain()) {
        // The test before took the link's load for its nature: the losses were there where it went down
        // to as well, so the rate goes below that, and the next test may come as soon as a first one.
        const int64_t lowest = lossCopies_->lowest;
        endLossCopies(Reason::copiesInVain);
        lossTestGap_ = firstLossTestGap;
        ceiling_ = ceiling_ > 0 ? std::min(ceiling_, lowest) : lowest;
        return change(std::max(floor_, lowest / 2), Reason::copiesInVain, Step::lowered);
    }
    if (lossCopies_ && signals_.lostAsks(now - copiesWithoutLoss, now) == 0 && since(lastChange_) >= copiesWithoutLoss)
        return endLossCopies(Reason::noLosses);
    if (e.full()) return whenFull(reasonFor(e));
    if (stepBroughtLosses()) return whenFull(Reason::picturesLost);
    // With copies going, whether they help tells more than a test would.
    if (e.lossesPersist && !lossCopies_)
        if (auto c = testLosses()) return c;
    return climb(e);
}

std::optional<LinkRate::Change> LinkRate::whenFull(Reason why) {
    if (lastStep_ == Step::up && since(lastChange_) < stepJudged) {
        // The step up was one too many: straight back, and that step is where the link fills.
        ceiling_ = ceiling_ > 0 ? std::min(ceiling_, rate_.bitRate) : rate_.bitRate;
        return change(stepFrom_, why, Step::back);
    }
    if (rate_.bitRate <= floor_ || since(lastChange_) < lowerGap) return std::nullopt;
    // The link is fuller than the rate: it got slower, or this is where the session begins. Where nothing
    // comes through whole it is far fuller: a quarter.
    ceiling_ = ceiling_ > 0 ? std::min(ceiling_, rate_.bitRate) : rate_.bitRate;
    const int64_t next = why == Reason::nothingWhole ? rate_.bitRate / 4 : rate_.bitRate / 2;
    return change(std::max(floor_, next), why, Step::lowered);
}

bool LinkRate::stepBroughtLosses() const {
    // Judged over a few seconds after it took effect: a couple of asks by chance tell nothing.
    if (lastStep_ != Step::up || since(lastChange_) >= stepJudged || since(lastChange_) < settle + lossTestLength)
        return false;
    // Twice as many a piece as before the step, and a second more asks at least: losses of the link's
    // nature go on as they were, piece for piece, at any rate. Or asks as thick as a client asks at all
    // where they were not: past that the share of pieces cannot be told.
    const Instant now = clock_.now();
    const Instant from = *lastChange_ + settle;
    const bool more =
        (signals_.pieceLoss(from, now) >= 2 * lossBeforeStep_ && asksPerSecond(from, now) >= asksBeforeStep_ + 1) ||
        (asksPerSecond(from, now) >= thickAsks && asksBeforeStep_ < thickAsks);
    return more && signals_.lostAsks(now - std::chrono::seconds(2), now) >= 2 && signals_.lostAsks(from, now) >= 4;
}

std::optional<LinkRate::Change> LinkRate::judgeProbe(const LinkSignals::Evidence& e) {
    const Instant now = clock_.now();
    const Instant from = *probeStarted_ + probeGrace;
    // A picture lost or round trips that grew: the link does not carry the copies. It shows so at once,
    // before the queue overflows for long, and the next probe waits longer.
    const bool failed = e.full() || signals_.lostAsks(from, now + std::chrono::milliseconds(1)) > 0 ||
                        signals_.queueBetween(from, now).value_or(false);
    // Carried only where round trips, when there are any, said so too.
    const bool carried = now - *probeStarted_ >= probeLength &&
                         (!signals_.hasRoundTrips() || signals_.roundTripsBetween(from, now) >= 2);
    if (failed || (now - *probeStarted_ >= probeLength && !carried)) {
        // What it lost meanwhile, and what the client asks for that a little later, was the probe's.
        signals_.excuse(*probeStarted_, now + probeAftermath);
        probeStarted_.reset();
        probeEnded_ = now;
        probeWait_ = std::min<Duration>(probeWait_ * probeWaitGrowth, longestProbeWait);
        probeDue_ = now + probeWait_;
        return same(Reason::probeFailed);
    }
    if (!carried) return std::nullopt;
    // It carried twice the rate: it got faster. Nothing is remembered of where it filled.
    probeStarted_.reset();
    ceiling_ = 0;
    probeWait_ = firstProbeWait;
    probeDue_.reset();
    return change(std::min(base_.bitRate, static_cast<int64_t>(static_cast<double>(rate_.bitRate) * freeStep)),
                  Reason::linkCarriesMore, Step::up);
}

std::optional<LinkRate::Change> LinkRate::testLosses() {
    // A queue is the surer sign: the round trips get their chance to show one first.
    if (signals_.hasRoundTrips() && signals_.roundTripsBetween(start_, clock_.now()) < LinkSignals::judgedSamples)
        return std::nullopt;
    if (rate_.bitRate <= floor_ || since(lastChange_) < calmSpell || since(lossTestEnded_) < lossTestGap_)
        return std::nullopt;
    const Instant now = clock_.now();
    lossTest_ = LossTest{rate_.bitRate, rate_.bitRate, now, signals_.pieceLoss(now - calmSpell, now),
                         asksPerSecond(now - calmSpell, now)};
    return change(std::max(floor_, rate_.bitRate / 2), Reason::picturesLost, Step::test);
}

std::optional<LinkRate::Change> LinkRate::judgeLossTest(const LinkSignals::Evidence& e) {
    const LossTest test = *lossTest_;
    const Instant now = clock_.now();
    const auto endTest = [&] {
        lossTest_.reset();
        lossTestEnded_ = now;
    };
    // The rate stays down where the losses were the link's load.
    const auto wasLoad = [&]() -> std::optional<Change> {
        endTest();
        // Where the test's latest lowering came from, the losses were as many as before: load too. No step
        // up comes before a calm spell after the verdict.
        ceiling_ = ceiling_ > 0 ? std::min(ceiling_, test.above) : test.above;
        lastStep_ = Step::lowered;
        lastChange_ = now;
        return std::nullopt;
    };
    if (e.full()) {
        // Full even at the lower rate: the rule for a full link takes over from here.
        wasLoad();
        return whenFull(reasonFor(e));
    }
    if (now - test.at < settle + lossTestLength) return std::nullopt;
    const Instant from = test.at + settle;
    // They fell with the rate (or, too few to tell, seem to): the link's load, and the rate stays down.
    if (signals_.pieceLoss(from, now) < test.lossBefore * fellTo) return wasLoad();
    // The losses are the link's own only where it shows no queue meanwhile either, nor one that fell with
    // the rate.
    if (signals_.hasRoundTrips()) {
        if (signals_.queueBetween(from, now).value_or(true)) return wasLoad();
        const auto before = signals_.medianBetween(test.at - lossTestLength, test.at);
        const auto during = signals_.medianBetween(from, now);
        if (before && during && *before - *during > queueFell) return wasLoad();
    }
    if (asksPerSecond(from, now) >= thickAsks && rate_.bitRate > floor_) {
        // Still as thick as the client asks at all: too thick to tell. Again at half, down to the floor.
        lossTest_->above = rate_.bitRate;
        lossTest_->at = now;
        // Thick asks understate the losses most at the higher rate: what they show here is the nearer.
        lossTest_->lossBefore = std::max(test.lossBefore, signals_.pieceLoss(from, now));
        return change(std::max(floor_, rate_.bitRate / 2), Reason::picturesLost, Step::test);
    }
    // They went on as before: the link's nature, which a lower rate does not help. Where the link carries
    // the full budget, copies of the pieces make up for them. Below it, where the rate was already down for
    // a full link and the client asked as often as it asks at all, a wrong verdict would send at a rate
    // known to fill it: the rate stays, and climbs as any.
    endTest();
    lossTestGap_ = std::min<Duration>(lossTestGap_ * 2, longestProbeWait);
    if (test.from < base_.bitRate && test.asksBefore >= thickAsks) {
        lastStep_ = Step::lowered;
        lastChange_ = now;
        return std::nullopt;
    }
    if (copiesPossible_ && test.from >= base_.bitRate && (!lossCopiesAgainAt_ || now >= *lossCopiesAgainAt_))
        lossCopies_ = LossCopies{now, rate_.bitRate};
    return change(test.from, Reason::lossesStayed, Step::restored);
}

bool LinkRate::copiesInVain() const {
    const Instant now = clock_.now();
    if (now - lossCopies_->from < settle + copiesJudged) return false;
    const Instant from = std::max(lossCopies_->from + settle, now - calmSpell);
    // With each piece twice, a link that loses at random leaves whole pictures between the broken ones;
    // one the copies fill leaves the client a broken picture nearly all the time, and it asks as soon as
    // it may. (One that sees nothing whole at all asks once a second: a full link, ended before this.)
    return signals_.lostAsks(from, now) >= copiesJudgedAsks && signals_.promptAsks(from, now) >= promptShare;
}

std::optional<LinkRate::Change> LinkRate::endLossCopies(Reason why) {
    lossCopies_.reset();
    if (why != Reason::noLosses) {
        // The copies filled the link: the next try waits, longer each time.
        lossCopiesAgainAt_ = clock_.now() + lossCopiesWait_;
        lossCopiesWait_ = std::min<Duration>(lossCopiesWait_ * 2, longestProbeWait);
    }
    return same(why);
}

LinkRate::Target LinkRate::nextStepUp() const {
    const double r = static_cast<double>(rate_.bitRate), ceiling = static_cast<double>(ceiling_);
    const Instant changed = lastChange_.value_or(start_);
    if (ceiling_ == 0) return {static_cast<int64_t>(r * freeStep), changed + freeCalm};
    // Calm where the trouble began, for as long as a queue takes to show: the link got faster. One near
    // step beyond, big ones after.
    if (rate_.bitRate >= ceiling_) return {static_cast<int64_t>(r * nearStep), changed + ceilingJudged};
    const double least = coarse_ ? coarseLeastStep : leastStep;
    return {static_cast<int64_t>(std::max(std::sqrt(r * ceiling), r * least)), changed + calmSpell};
}

std::optional<LinkRate::Change> LinkRate::probeWhenDue() {
    const Instant now = clock_.now();
    if (!probeDue_) probeDue_ = now + probeWait_;
    // Only at a quiet moment: asks for pictures lost before it would end it at once.
    if (now < *probeDue_ || since(lastChange_) < calmSpell || since(probeEnded_) < calmSpell ||
        signals_.lostAsks(now - calmSpell, now) > 0)
        return std::nullopt;
    if (!copiesPossible_) {
        // A step to the ceiling itself, ever more rarely; one that stays calm there says the link got
        // faster, one that brings trouble goes straight back.
        probeWait_ = std::min<Duration>(probeWait_ * probeWaitGrowth, longestProbeWait);
        probeDue_ = now + probeWait_;
        return change(ceiling_, Reason::calm, Step::up);
    }
    probeStarted_ = now;
    return same(Reason::probing);
}

std::optional<LinkRate::Change> LinkRate::climb(const LinkSignals::Evidence& e) {
    if (rate_.bitRate >= base_.bitRate || since(fullAt_) < calmSpell || e.queueGrew || e.sentAgain) return std::nullopt;
    const Instant now = clock_.now();
    if (signals_.pieceLoss(now - calmSpell, now) > holdingLoss || asksPerSecond(now - calmSpell, now) >= thickAsks)
        return std::nullopt;
    // Calm only where the round trips, when there are any, show no queue meanwhile: a client that sees
    // nothing whole asks too seldom to tell by its asks alone.
    if (signals_.hasRoundTrips() && signals_.queueBetween(now - calmSpell, now).value_or(true)) return std::nullopt;
    if (settled()) return probeWhenDue();
    const Target next = nextStepUp();
    if (now < next.notBefore || next.bitRate <= rate_.bitRate) return std::nullopt;
    if (ceiling_ > 0 && rate_.bitRate >= ceiling_) {
        ceiling_ = 0;
        probeWait_ = firstProbeWait;
        probeDue_.reset();
    }
    const int64_t bits = std::min(base_.bitRate, next.bitRate);
    return change(bits, bits == base_.bitRate ? Reason::fullBudget : Reason::calm, Step::up);
}

} // namespace dovrel::agent
