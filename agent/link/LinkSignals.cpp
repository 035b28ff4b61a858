#include "agent/link/LinkSignals.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace dovrel::agent {

namespace {

using std::chrono::microseconds;

constexpr auto judgedWithin = std::chrono::seconds(5);
// Signals this recent count as now.
constexpr auto recently = std::chrono::seconds(3);
// Asks a second apart and as regular as a clock, this many in a row, while this many pictures a second
// went out: a client that sees nothing whole.
constexpr std::size_t frozenAsks = 4;
constexpr std::pair<Duration, Duration> frozenSpacing{std::chrono::milliseconds(900), std::chrono::milliseconds(1150)};
constexpr auto frozenJitter = std::chrono::milliseconds(120);
constexpr double frozenPictures = 8;
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

bool LinkSignals::ownAsk(Instant at) const {
    return (leftOutAt_ && at - *leftOutAt_ < ownAskWindow) || at < excusedUntil_;
}

void LinkSignals::excuse(Instant from, Instant until) {
    while (!lostAsks_.empty() && lostAsks_.back() >= from)
        lostAsks_.pop_back();
    excusedUntil_ = std::max(excusedUntil_, until);
}

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
        if (after != before && before.count() > 0 && after.count() > 0) {
            roundTrips_.push_back({at, std::max(microseconds(0), before + 8 * (after - before))});
            floors_.push_back(roundTrips_.back());
            while (!floors_.empty() && at - floors_.front().at > floorMemory)
                floors_.pop_front();
        }
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

LinkSignals::Evidence LinkSignals::look(Instant now, Instant since) const {
    Evidence e;
    // The queue: each of the last few samples since `since` well above what a calm link shows.
    if (const auto lowest = leastOfLast(now, since)) {
        const microseconds floor = roundTripFloor();
        e.queueGrew = *lowest > floor + queueMargin + floor / 4;
    }
    e.frozen = frozen(now, since);

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

std::optional<microseconds> LinkSignals::leastOfLast(Instant now, Instant since) const {
    std::size_t judged = 0;
    microseconds lowest = microseconds::max();
    for (auto it = roundTrips_.rbegin(); it != roundTrips_.rend() && judged < judgedSamples; ++it) {
        if (it->at < since || now - it->at > judgedWithin) break;
        lowest = std::min(lowest, it->value);
        ++judged;
    }
    if (judged < judgedSamples) return std::nullopt;
    return lowest;
}

std::size_t LinkSignals::roundTripsBetween(Instant from, Instant to) const {
    return static_cast<std::size_t>(std::count_if(roundTrips_.begin(), roundTrips_.end(),
                                                  [&](const Sample& s) { return s.at >= from && s.at < to; }));
}

std::optional<microseconds> LinkSignals::leastBetween(Instant from, Instant to) const {
    std::size_t count = 0;
    microseconds lowest = microseconds::max();
    for (const Sample& s : roundTrips_)
        if (s.at >= from && s.at <= to) {
            ++count;
            lowest = std::min(lowest, s.value);
        }
    if (count < 2) return std::nullopt;
    return lowest;
}

std::optional<microseconds> LinkSignals::medianBetween(Instant from, Instant to) const {
    std::vector<microseconds> values;
    for (const Sample& s : roundTrips_)
        if (s.at >= from && s.at <= to) values.push_back(s.value);
    if (values.size() < 3) return std::nullopt;
    const auto middle = values.begin() + static_cast<long>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

std::optional<bool> LinkSignals::queueBetween(Instant from, Instant now) const {
    const auto lowest = leastBetween(from, now);
    if (!lowest) return std::nullopt;
    const microseconds floor = roundTripFloor();
    return *lowest > floor + queueMargin + floor / 4;
}

microseconds LinkSignals::roundTripFloor() const {
    // Never more than a held acknowledgement above the least: a session that begins on a full link has
    // seen no calm round trip yet. Below that, what the round trips mostly are: a client that never holds
    // its acknowledgements back shows a queue sooner.
    microseconds floor = least_ + heldAcknowledgement;
    if (!floors_.empty()) {
        std::vector<microseconds> values;
        values.reserve(floors_.size());
        for (const Sample& s : floors_)
            values.push_back(s.value);
        const auto middle = values.begin() + static_cast<long>(values.size() / 2);
        std::nth_element(values.begin(), middle, values.end());
        floor = std::min(floor, *middle);
    }
    return std::max(floor, least_);
}

bool LinkSignals::frozen(Instant now, Instant since) const {
    // A client that sees no whole picture asks once a second, as its picture stands still; one that
    // loses some asks when a whole one shows a gap, at no pace of its own. Pictures went out meanwhile.
    if (lostAsks_.size() < frozenAsks) return false;
    // The cadence may have begun before `since`; two of its asks since then say it goes on.
    const auto last = lostAsks_.end() - frozenAsks;
    if (*(lostAsks_.end() - 2) < since || now - lostAsks_.back() > frozenSpacing.second) return false;
    Duration shortest = Duration::max(), longest{};
    for (auto it = last + 1; it != lostAsks_.end(); ++it) {
        shortest = std::min(shortest, *it - *(it - 1));
        longest = std::max(longest, *it - *(it - 1));
    }
    if (shortest < frozenSpacing.first || longest > frozenSpacing.second || longest - shortest > frozenJitter)
        return false;
    const auto pictures = std::count_if(sent_.begin(), sent_.end(), [&](const Sent& s) { return s.at >= *last; });
    return static_cast<double>(pictures) / std::chrono::duration<double>(now - *last).count() >= frozenPictures;
}

std::size_t LinkSignals::lostAsks(Instant from, Instant to) const {
    return static_cast<std::size_t>(
        std::count_if(lostAsks_.begin(), lostAsks_.end(), [&](Instant at) { return at >= from && at < to; }));
}

double LinkSignals::promptAsks(Instant from, Instant to) const {
    std::size_t gaps = 0, prompt = 0;
    for (std::size_t i = 1; i < lostAsks_.size(); ++i) {
        if (lostAsks_[i - 1] < from || lostAsks_[i] >= to) continue;
        ++gaps;
        if (lostAsks_[i] - lostAsks_[i - 1] <= askSpacing + askSlack) ++prompt;
    }
    return gaps == 0 ? 0 : static_cast<double>(prompt) / static_cast<double>(gaps);
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

std::optional<std::chrono::microseconds> LinkSignals::latestRoundTrip() const {
    if (roundTrips_.empty()) return std::nullopt;
    return roundTrips_.back().value;
}

} // namespace dovrel::agent
