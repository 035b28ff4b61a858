#include "agent/media/LinkRate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace dovrel::agent {

namespace {

// Steps up: big ones where no trouble is remembered; below where trouble began, between the least and a
// near one, and straight to it from within a near one.
constexpr double freeStep = 1.6;
constexpr double nearStep = 1.25;
constexpr double leastStep = 1.05;

const char* wordsFor(LinkRate::Reason why) {
    switch (why) {
    case LinkRate::Reason::picturesLost: return "pictures were being lost";
    case LinkRate::Reason::roundTripGrew: return "the link's round trip kept growing";
    case LinkRate::Reason::linkBackedUp: return "the link could not keep up with what was sent";
    case LinkRate::Reason::calm: return "pictures come through whole";
    case LinkRate::Reason::fullBudget: return "the link's full budget again";
    }
    return "";
}

} // namespace

std::string LinkRate::Change::logLine() const {
    char text[160];
    // Below a megabit a tenth would hide a step.
    std::snprintf(text, sizeof text, "• link: sending %.*f Mbit/s at %d fps — %s", rate.bitRate < 1000000 ? 2 : 1,
                  static_cast<double>(rate.bitRate) / 1e6, rate.frameRate, wordsFor(reason));
    return text;
}

LinkRate::LinkRate(Scheduler& clock) : clock_(clock) { reset(VideoBudget::lan()); }

void LinkRate::reset(const VideoBudget& base) {
    base_ = base;
    floor_ = std::min(floorBitRate, base.averageBitRate);
    rate_ = {base.averageBitRate, base.expectedFrameRate};
    lastChange_.reset();
    troubleAt_.reset();
    lostAt_.reset();
    ceiling_ = 0;
    safe_ = 0;
    probeCalm_ = calmSpell;
    bestRoundTrip_.reset();
    lastRoundTrip_.reset();
    lastBacklog_ = 0;
    asks_.clear();
}

int LinkRate::frameRateFor(int64_t bitRate) const {
    const int full = std::max(base_.expectedFrameRate, 1);
    if (bitRate >= base_.averageBitRate) return full;
    const int64_t perPicture = std::max<int64_t>(std::min(bitsPerPicture, base_.averageBitRate / full), 1);
    return static_cast<int>(std::clamp<int64_t>(bitRate / perPicture, std::min(minFrameRate, full), full));
}

SendRate LinkRate::at(int64_t bitRate) const { return {bitRate, frameRateFor(bitRate)}; }

VideoBudget LinkRate::budget() const {
    if (rate_ == SendRate{base_.averageBitRate, base_.expectedFrameRate}) return base_;
    return base_.at(rate_.bitRate, rate_.frameRate);
}

bool LinkRate::settling(Instant now) const {
    // Right after the rate came down, what is still in the link's queue was sent at the old one.
    return lastChange_ && lastChangeLowered_ && now - *lastChange_ < settle;
}

void LinkRate::forget() {
    ceiling_ = 0;
    probeCalm_ = calmSpell;
}

void LinkRate::trouble(Reason why) {
    const Instant now = clock_.now();
    if (settling(now)) return;
    troubleAt_ = now;
    troubleWhy_ = why;
    ceiling_ = ceiling_ > 0 ? std::min(ceiling_, rate_.bitRate) : rate_.bitRate;
}

void LinkRate::keyframeAsked(bool lost) {
    const Instant now = clock_.now();
    if (lost) lostAt_ = now;
    if (settling(now)) return;
    if (lost) {
        // Now and then a picture lost: the link is about full at this rate. Right after a step up, the
        // step was one too many.
        ceiling_ = std::min(ceiling_ > 0 ? ceiling_ : std::numeric_limits<int64_t>::max(),
                            static_cast<int64_t>(static_cast<double>(rate_.bitRate) * leastStep));
        if (lastChange_ && !lastChangeLowered_ && now - *lastChange_ < lowerGap + settle) trouble(Reason::picturesLost);
    }
    asks_.push_back(now);
    while (!asks_.empty() && now - asks_.front() >= thickWithin)
        asks_.pop_front();
    if (asks_.size() >= thickAsks) trouble(Reason::picturesLost);
}

void LinkRate::roundTrip(std::chrono::microseconds smoothed) {
    if (smoothed.count() <= 0) return;
    bestRoundTrip_ = bestRoundTrip_ ? std::min(*bestRoundTrip_, smoothed) : smoothed;
    const auto rise = std::max<std::chrono::microseconds>(roundTripRise, *bestRoundTrip_);
    // A round trip that is falling is the link's queue draining after the rate came down.
    const bool falling = lastRoundTrip_ && smoothed < *lastRoundTrip_;
    lastRoundTrip_ = smoothed;
    if (smoothed - *bestRoundTrip_ > rise && !falling) trouble(Reason::roundTripGrew);
}

void LinkRate::backlog(std::size_t bytes) {
    const auto limit = static_cast<std::size_t>(rate_.bitRate / 8 * backlogLimit.count() / 1000);
    const bool falling = bytes < lastBacklog_;
    lastBacklog_ = bytes;
    if (bytes > limit && !falling) trouble(Reason::linkBackedUp);
}

std::optional<LinkRate::Change> LinkRate::decide() {
    const Instant now = clock_.now();
    const auto since = [&](const std::optional<Instant>& t) { return t ? now - *t : Duration::max(); };
    const bool troubled = troubleAt_ && (!lastChange_ || *troubleAt_ >= *lastChange_);
    // A rate held through a calm spell is one to come back to when a step above it brings trouble.
    const bool calm = since(troubleAt_) >= calmSpell && since(lostAt_) >= calmSpell;
    if (since(lastChange_) >= calmSpell && calm) safe_ = rate_.bitRate;
    std::optional<Change> change;
    if (troubled && rate_.bitRate > floor_) {
        if (since(lastChange_) >= lowerGap) {
            // Trouble right after a step up: back to the last rate that stayed calm, and the next step up
            // from there waits longer. Trouble that goes on: half the rate.
            const bool stepFailed = lastChange_ && !lastChangeLowered_;
            if (stepFailed) probeCalm_ = std::min<Duration>(probeCalm_ * 2, longestProbeCalm);
            const int64_t next = stepFailed && safe_ > 0 && safe_ < rate_.bitRate ? safe_ : rate_.bitRate / 2;
            change = Change{at(std::max(floor_, next)), troubleWhy_};
        }
    } else if (rate_.bitRate < base_.averageBitRate) {
        if (since(troubleAt_) >= troubleMemory) forget();
        const double r = static_cast<double>(rate_.bitRate), ceiling = static_cast<double>(ceiling_);
        // Where no trouble is remembered, big steps, briskly.
        int64_t next = static_cast<int64_t>(r * freeStep);
        Duration wait = raiseGap;
        bool passing = false;
        if (ceiling_ > 0 && rate_.bitRate >= ceiling_) {
            // Calm through a calm spell where trouble began: the link got faster, or the trouble came by
            // chance. One near step beyond, and from there big ones.
            next = static_cast<int64_t>(r * nearStep);
            wait = calmSpell;
            passing = true;
        } else if (ceiling_ > 0) {
            // Below where trouble began: halfway there (on a ratio scale), or all the way when that is
            // near, each step held through a calm spell; the step back to it waits longer each time it
            // brought trouble.
            const double target = ceiling <= r * nearStep ? ceiling : std::sqrt(r * ceiling);
            next = static_cast<int64_t>(std::clamp(target, r * leastStep, r * freeStep));
            wait = static_cast<double>(next) >= ceiling ? probeCalm_ : Duration(calmSpell);
        }
        if (calm && since(lastChange_) >= wait && next > rate_.bitRate) {
            if (passing) ceiling_ = 0; // the wait for a step that brings trouble stays
            const auto bits = std::min(base_.averageBitRate, next);
            change = Change{at(bits), bits == base_.averageBitRate ? Reason::fullBudget : Reason::calm};
        }
    }
    if (change) {
        rate_ = change->rate;
        lastChange_ = now;
        lastChangeLowered_ = change->lower();
        if (lastChangeLowered_) {
            safe_ = std::min(safe_, rate_.bitRate);
            asks_.clear(); // they made this change: the next needs asks of its own
        }
    }
    return change;
}

} // namespace dovrel::agent
