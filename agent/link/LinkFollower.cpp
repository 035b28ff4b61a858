#include "agent/link/LinkFollower.h"

#include "agent/common/AgentLog.h"

namespace dovrel::agent {

LinkFollower::LinkFollower(Scheduler& clock, const LinkView& view, RateTaker& taker)
    : view_(view), taker_(taker), rule_(clock) {}

void LinkFollower::begin(SendRate base) {
    {
        const std::lock_guard guard(lock_);
        rule_.reset(base);
        paced_ = 0;
        twice_ = false;
    }
    taker_.pace(0, false);
}

SendRate LinkFollower::base() const {
    const std::lock_guard guard(lock_);
    return rule_.base();
}

SendRate LinkFollower::current() const {
    const std::lock_guard guard(lock_);
    return rule_.current();
}

void LinkFollower::coarseSteps(bool coarse) {
    const std::lock_guard guard(lock_);
    rule_.coarseSteps(coarse);
}

void LinkFollower::keyframeAsked(LinkRate::Ask why) {
    const std::lock_guard guard(lock_);
    rule_.keyframeAsked(why);
}

void LinkFollower::picture(std::size_t pieces, bool leftOut) {
    const std::lock_guard guard(lock_);
    rule_.picture(pieces, leftOut);
}

void LinkFollower::follow() {
    const std::optional<ControlLinkReading> reading = view_.controlLink();
    const std::size_t backlog = view_.relayBacklog();
    const bool relay = view_.throughRelay();
    std::optional<LinkRate::Change> change;
    SendRate before;
    int64_t pace = 0;
    bool twice = false;
    bool paceChanged = false;
    {
        const std::lock_guard guard(lock_);
        rule_.copiesPossible(!relay);
        if (reading) rule_.controlLink(*reading);
        rule_.backlog(backlog);
        before = rule_.current();
        change = rule_.decide();
        // Paced once the link has shown trouble: an unbroken link keeps its latency.
        if (rule_.lossesSeen()) pace = rule_.current().bitRate;
        twice = rule_.twice();
        paceChanged = pace != paced_ || twice != twice_;
        paced_ = pace;
        twice_ = twice;
    }
    if (paceChanged) taker_.pace(pace, twice);
    if (!change) return;
    print(change->logLine());
    if (change->rate != before) taker_.takeRate(change->rate);
}

} // namespace dovrel::agent
