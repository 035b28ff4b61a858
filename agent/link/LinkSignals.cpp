#include "agent/link/LinkSignals.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace dovrel::agent {

namespace {

using std::chrono::microseconds;

// The round trip samples the queue is judged by: the middle one of the last few, so that one stretched
// or quick by chance decides nothing.
constexpr std::size_t judgedSamples = 3;
constexpr auto judgedWithin = std::chrono::seconds(5);
// Signals this recent count as now.
constexpr auto recently = std::chrono::seconds(3);
// Asks in this many of the last seconds: losses that persist.
constexpr int persistSeconds = 4;
constexpr int persistAtLeast = 3;

} // namespace

void LinkSignals::reset() { *this = LinkSignals{}; }

void LinkSignals::forgetBefore(Instant t) {
    const auto old = [t](auto& q, auto at) {
        while (!q.empty() && at(q.front()) < t)
            q.pop_front();
    };
    old(lostAsks_, [](Instant at) { return at; });
    old(sent_, [](const Sent& s) { return s.at; });
    old(roundTrips_, [](const Sample& s) { return s.at; });
    old(sentAgain_, [](Instant at) { return at; });
    old(backedUp_, [](Instant at) { return at; });
}

bool LinkSignals::ownAsk(Instant at) const { return leftOutAt_ && at - *leftOutAt_ < ownAskWindow; }

void LinkSignals::ask(Instant at, Ask why) {
    forgetBefore(at - memory);
    if (why == Ask::lost && !ownAsk(at)) lostAsks_.push_back(at);
}

void LinkSignals::picture(Instant at, std::size_t pieces, bool leftOut) {
    forgetBefore(at - memory);
    if (leftOut) {
        leftOutAt_ = at;
        return;
    }
    sent_.push_back({at, pieces});
}

void LinkSignals::control(Instant at, const ControlLinkReading& reading) {
    forgetBefore(at - memory);
    // The handshake's quick exchanges set the least before any video was sent.
    if (reading.smoothedRoundTrip.count() > 0)
        least_ = least_.count() > 0 ? std::min(least_, reading.smoothedRoundTrip) : reading.smoothedRoundTrip;
    if (lastReading_) {
        // The kernel moves its smoothed estimate an eighth of the way towards each sample: a move tells
        // the sample that made it.
        const auto before = lastReading_->smoothedRoundTrip, after = reading.smoothedRoundTrip;
        if (after != before && before.count() > 0 && after.count() > 0)
            roundTrips_.push_back({at, std::max(microseconds(0), before + 8 * (after - before))});
        if (reading.segmentsSentAgain > lastReading_->segmentsSentAgain) {
            const uint32_t more = std::min<uint32_t>(reading.segmentsSentAgain - lastReading_->segmentsSentAgain, 8);
            sentAgain_.insert(sentAgain_.end(), more, at);
        }
    }
    lastReading_ = reading;
}

void LinkSignals::backlog(Instant at, std::size_t bytes, int64_t bitRate) {
    forgetBefore(at - memory);
    const auto limit = static_cast<std::size_t>(std::max<int64_t>(bitRate, 0) / 8 * backlogLimit.count() / 1000);
    // A backlog that is falling is the link draining after the rate came down.
    if (bytes > limit && bytes >= lastBacklog_) backedUp_.push_back(at);
    lastBacklog_ = bytes;
}

microseconds LinkSignals::quietLevel() const { return quietLevel_ ? *quietLevel_ : least_ + heldAcknowledgement; }

void LinkSignals::quiet(Instant at, bool calm) {
    for (const Sample& s : roundTrips_) {
        if (!calm || s.at <= quietUpTo_ || s.at > at) continue;
        quietLevel_ = (7 * quietLevel() + s.value) / 8;
    }
    quietUpTo_ = at;
}

LinkSignals::Evidence LinkSignals::look(Instant now, Instant since) const {
    Evidence e;
    // The queue: the middle one of the last few samples since `since`, well above the quiet level.
    std::vector<microseconds> judged;
    for (auto it = roundTrips_.rbegin(); it != roundTrips_.rend() && judged.size() < judgedSamples; ++it) {
        if (it->at < since || now - it->at > judgedWithin) break;
        judged.push_back(it->value);
    }
    if (judged.size() == judgedSamples) {
        std::nth_element(judged.begin(), judged.begin() + judgedSamples / 2, judged.end());
        const microseconds middle = judged[judgedSamples / 2], level = quietLevel();
        const microseconds margin = queueMargin + level / 4;
        e.queueGrew = middle > level + margin;
    }

    const auto after = [&](const std::deque<Instant>& q) {
        return static_cast<std::size_t>(
            std::count_if(q.begin(), q.end(), [&](Instant at) { return at >= since && now - at <= recently; }));
    };
    e.sentAgain = after(sentAgain_) > 0;
    e.lossesNow = after(lostAsks_) > 0;
    e.backedUp = std::count_if(backedUp_.begin(), backedUp_.end(),
                               [&](Instant at) { return at >= since && now - at <= std::chrono::seconds(1); }) >= 2;

    int seconds = 0;
    for (int s = 0; s < persistSeconds; ++s)
        if (lostAsks(now - std::chrono::seconds(s + 1), now - std::chrono::seconds(s)) > 0) ++seconds;
    e.lossesPersist = seconds >= persistAtLeast;
    return e;
}

std::size_t LinkSignals::lostAsks(Instant from, Instant to) const {
    return static_cast<std::size_t>(
        std::count_if(lostAsks_.begin(), lostAsks_.end(), [&](Instant at) { return at >= from && at < to; }));
}

double LinkSignals::pieceLoss(Instant from, Instant to) const {
    std::size_t pictures = 0, pieces = 0;
    for (const Sent& s : sent_)
        if (s.at >= from && s.at < to) {
            ++pictures;
            pieces += s.pieces;
        }
    if (pictures == 0 || pieces == 0) return 0;
    const double lost = std::min(static_cast<double>(lostAsks(from, to)) / static_cast<double>(pictures), 0.99);
    const double perPicture = static_cast<double>(pieces) / static_cast<double>(pictures);
    return 1 - std::pow(1 - lost, 1 / perPicture);
}

double LinkSignals::picturesLostAt(double loss, Instant from, Instant to) const {
    double lost = 0;
    for (const Sent& s : sent_)
        if (s.at >= from && s.at < to) lost += 1 - std::pow(1 - loss, static_cast<double>(s.pieces));
    return lost;
}

std::optional<std::chrono::microseconds> LinkSignals::latestRoundTrip() const {
    if (roundTrips_.empty()) return std::nullopt;
    return roundTrips_.back().value;
}

} // namespace dovrel::agent
