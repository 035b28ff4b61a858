#pragma once

// A session on a simulated link, on a fake clock: the agent's rule (LinkRate) with its encoder, pace and
// control connection as models, a link that shapes as a router's token bucket does (a small burst, a
// queue of 50 ms behind it, whatever arrives while it is full is dropped) and may lose a share of the
// video at random, and a controller that asks for keyframes as the plain WEX controller does: when a
// whole picture shows that frames are missing (at most every 250 ms), and when two of its once-a-second
// ticks saw no new picture. The control connection's segments share the link's queue: a queue the video
// fills delays them, one that overflows drops them and they are sent again, as TCP does.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <vector>

#include "../../support/FakeScheduler.h"
#include "agent/link/LinkRate.h"
#include "agent/link/PiecePacer.h"

namespace dovrel::test {

using namespace std::chrono_literals;

struct LinkConditions {
    int64_t bitRate = 0; // 0: as fast as the agent sends
    std::size_t burstBytes = 4000;
    std::chrono::milliseconds queue{50};
    double videoLoss = 0; // share of video pieces lost at random on the way
    // The client acknowledges most segments after holding the acknowledgement back a while (tens of
    // milliseconds, as measured of the real one), some at once, some later.
    std::chrono::milliseconds heldAck{25};
    // The control connection has a queue of its own in front of the link (a router that queues each
    // flow apart): it shows nothing of what the video fills.
    bool controlApart = false;
    // No piece can go twice (the relay's stream).
    bool noCopies = false;
    // The client asks for a keyframe on every broken picture too (at most every 250 ms), as
    // DovrelController does, not only when a whole one shows a gap.
    bool asksOnBroken = false;
};

class SimulatedSession {
public:
    struct Seen {
        Instant at;
        agent::LinkRate::Change change;
    };

    SimulatedSession(agent::SendRate base, LinkConditions link, uint32_t seed = 7) : link_(link), random_(seed) {
        rule_.reset(base);
        rule_.copiesPossible(!link.noCopies);
        start_ = clock_.now();
        // The client's first ask comes as the session stands.
        rule_.keyframeAsked(agent::LinkRate::Ask::joining);
        lastAsk_ = start_;
        keyframeWanted_ = true;
    }

    agent::LinkRate& rule() { return rule_; }
    FakeScheduler& clock() { return clock_; }
    Instant start() const { return start_; }
    void setLink(LinkConditions link) { link_ = link; }

    void run(Duration length) {
        const Instant end = clock_.now() + length;
        while (clock_.now() < end) {
            clock_.advance(1ms);
            step(clock_.now());
        }
    }

    const std::vector<Seen>& changes() const { return changes_; }
    // Changes of the rate in [from, to) of the session (a probe's copies are none).
    std::size_t changesBetween(Duration from, Duration to) const {
        return static_cast<std::size_t>(std::count_if(changes_.begin(), changes_.end(), [&](const Seen& s) {
            return s.change.ofRate() && s.at >= start_ + from && s.at < start_ + to;
        }));
    }
    // Whole pictures the client got in [from, to) of the session, a second.
    double wholePerSecond(Duration from, Duration to) const {
        return static_cast<double>(wholeBetween(from, to).size()) / std::chrono::duration<double>(to - from).count();
    }
    // Bits a second of whole pictures the client got.
    double wholeBitsPerSecond(Duration from, Duration to) const {
        double bits = 0;
        for (const auto& [at, b] : whole_)
            if (at >= start_ + from && at < start_ + to) bits += static_cast<double>(b);
        return bits / std::chrono::duration<double>(to - from).count();
    }
    // The longest time in [from, to) without a new whole picture.
    Duration longestFreeze(Duration from, Duration to) const {
        Instant last = start_ + from;
        Duration longest{};
        for (const Instant at : wholeBetween(from, to)) {
            longest = std::max(longest, at - last);
            last = at;
        }
        return std::max(longest, start_ + to - last);
    }
    // How long in [from, to) the rule sent above `bitRate`.
    Duration timeAbove(int64_t bitRate, Duration from, Duration to) const {
        Duration above{};
        int64_t rate = rates_.empty() ? 0 : rates_.front().second;
        Instant t = start_ + from;
        for (const auto& [at, r] : rates_) {
            if (at <= t) {
                rate = r;
                continue;
            }
            if (at >= start_ + to) break;
            if (rate > bitRate) above += at - t;
            t = at;
            rate = r;
        }
        if (rate > bitRate) above += start_ + to - t;
        return above;
    }

private:
    struct Packet {
        std::size_t bytes;
        bool video;
        uint32_t frame = 0;   // video: the picture it belongs to
        uint32_t piece = 0;   // video: which of its pieces
        uint32_t segment = 0; // control: the segment it carries
    };
    struct Segment {
        Instant sentAt;
        std::optional<Instant> resendAt;
        int tries = 0;
    };

    std::vector<Instant> wholeBetween(Duration from, Duration to) const {
        std::vector<Instant> out;
        for (const auto& [at, b] : whole_)
            if (at >= start_ + from && at < start_ + to) out.push_back(at);
        return out;
    }

    double uniform() { return std::uniform_real_distribution<double>(0, 1)(random_); }

    void step(Instant now) {
        if (rates_.empty() || rates_.back().second != rule_.current().bitRate)
            rates_.emplace_back(now, rule_.current().bitRate);
        encode(now);
        pace(now);
        shape(now);
        acknowledge(now);
        resend(now);
        const auto sinceStart = now - start_;
        if (sinceStart % 1000ms == 0ms) tick(now);
        if (sinceStart % 1000ms == 500ms) sendSegment(now); // the agent's once-a-second statistics
        if (sinceStart % 250ms == 0ms) rule_.controlLink({srtt_, sentAgain_});
        if (sinceStart % 500ms == 0ms)
            if (auto c = rule_.decide()) changes_.push_back({now, *c});
    }

    // The encoder: pictures at the rate, each about the rate's share, a keyframe several times that.
    void encode(Instant now) {
        const agent::SendRate rate = rule_.current();
        if (now < nextPicture_) return;
        nextPicture_ = now + std::chrono::microseconds(1000000 / std::max(rate.frameRate, 1));
        const double average = static_cast<double>(rate.bitRate) / 8 / std::max(rate.frameRate, 1) / 1.05;
        double bytes = average * (0.6 + 0.8 * uniform());
        if (keyframeWanted_) {
            bytes = average * 4;
            keyframeWanted_ = false;
        }
        const auto pieces = static_cast<std::size_t>(std::ceil(bytes / 1000));
        const uint32_t frame = ++frameId_;
        frames_[frame] = std::vector<bool>(pieces, false);
        const int copies = rule_.twice() ? 2 : 1;
        for (int copy = 0; copy < copies; ++copy)
            for (std::size_t i = 0; i < pieces; ++i)
                paced_.push_back({pace_.slot(now, 1044), Packet{1044, true, frame, static_cast<uint32_t>(i), 0}});
        rule_.picture(pieces);
        pace_.setRate(rule_.lossesSeen() ? static_cast<int64_t>(static_cast<double>(rate.bitRate) * 1.2 * copies) : 0);
    }

    void pace(Instant now) {
        while (!paced_.empty() && paced_.front().first <= now) {
            enqueue(now, paced_.front().second);
            paced_.pop_front();
        }
    }

    void enqueue(Instant now, const Packet& p) {
        if (link_.bitRate <= 0 || (!p.video && link_.controlApart)) {
            arrive(now, p);
            return;
        }
        const auto limit = static_cast<std::size_t>(link_.bitRate / 8 * link_.queue.count() / 1000) + link_.burstBytes;
        if (queued_ + p.bytes > limit) return; // dropped: the queue is full
        queue_.push_back(p);
        queued_ += p.bytes;
    }

    void shape(Instant now) {
        if (link_.bitRate <= 0) {
            while (!queue_.empty()) {
                arrive(now, queue_.front());
                queue_.pop_front();
            }
            queued_ = 0;
            return;
        }
        tokens_ = std::min<double>(tokens_ + static_cast<double>(link_.bitRate) / 8 / 1000,
                                   static_cast<double>(link_.burstBytes));
        while (!queue_.empty() && tokens_ >= static_cast<double>(queue_.front().bytes)) {
            tokens_ -= static_cast<double>(queue_.front().bytes);
            queued_ -= queue_.front().bytes;
            arrive(now, queue_.front());
            queue_.pop_front();
        }
    }

    // At the client.
    void arrive(Instant now, const Packet& p) {
        if (!p.video) {
            // It acknowledges the segment at once, or holds the acknowledgement back a while.
            const double u = uniform();
            const Duration held = u < 0.1 ? Duration(200us)
                                  : u < 0.2
                                      ? Duration(link_.heldAck * 9 / 5)
                                      : Duration(link_.heldAck + std::chrono::milliseconds(int(uniform() * 8) - 4));
            acks_.push_back({now + held, p.segment});
            return;
        }
        if (link_.videoLoss > 0 && uniform() < link_.videoLoss) return;
        auto it = frames_.find(p.frame);
        if (it == frames_.end()) return;
        // Pieces come in order: a piece of a later picture says the earlier ones will never be whole.
        if (link_.asksOnBroken && it != frames_.begin()) {
            frames_.erase(frames_.begin(), it);
            if (now - lastAsk_ > 250ms) ask(now);
        }
        it->second[p.piece] = true;
        if (std::find(it->second.begin(), it->second.end(), false) != it->second.end()) return;
        // A whole picture: a gap before it asks for a keyframe, at most every 250 ms.
        whole_.emplace_back(now, it->second.size() * 8000);
        if (lastWhole_ != 0 && lastWhole_ + 1 < p.frame && now - lastAsk_ > 250ms) ask(now);
        lastWhole_ = p.frame;
        ++wholeSinceTick_;
        frames_.erase(frames_.begin(), std::next(it));
    }

    void ask(Instant now) {
        lastAsk_ = now;
        rule_.keyframeAsked(agent::LinkRate::Ask::lost);
        keyframeWanted_ = false; // repaired in refresh waves, no bigger than the pictures around them
    }

    // The client's once-a-second tick: a ping, and a keyframe ask when two ticks saw nothing new.
    void tick(Instant now) {
        if (now == start_) return;
        if (wholeSinceTick_ == 0) {
            if (++staleTicks_ >= 2 && now - lastAsk_ > 900ms) ask(now);
        } else {
            staleTicks_ = 0;
        }
        wholeSinceTick_ = 0;
        sendSegment(now); // the agent's answer to the ping
    }

    void sendSegment(Instant now) {
        const uint32_t id = ++segmentId_;
        segments_[id] = {now, std::nullopt, 0};
        transmit(now, id);
    }

    void transmit(Instant now, uint32_t id) {
        Segment& s = segments_[id];
        s.sentAt = now;
        const auto rto = std::max<Duration>(200ms, srtt_ + 4 * rttvar_) * (1 << std::min(s.tries, 6));
        s.resendAt = now + rto;
        enqueue(now, Packet{100, false, 0, 0, id});
    }

    void resend(Instant now) {
        for (auto& [id, s] : segments_)
            if (s.resendAt && *s.resendAt <= now) {
                ++s.tries;
                ++sentAgain_;
                transmit(now, id);
            }
    }

    void acknowledge(Instant now) {
        while (!acks_.empty() && acks_.front().first <= now) {
            const auto it = segments_.find(acks_.front().second);
            acks_.pop_front();
            if (it == segments_.end()) continue;
            const auto sample = std::chrono::duration_cast<std::chrono::microseconds>(now - it->second.sentAt);
            segments_.erase(it);
            rttvar_ = (3 * rttvar_ + std::chrono::abs(srtt_ - sample)) / 4;
            srtt_ = (7 * srtt_ + sample) / 8;
            least_ = std::min(least_, sample);
        }
        std::sort(acks_.begin(), acks_.end());
    }

    LinkConditions link_;
    std::mt19937 random_;
    FakeScheduler clock_;
    agent::LinkRate rule_{clock_};
    agent::PaceSchedule pace_;
    Instant start_{};
    Instant nextPicture_{};
    bool keyframeWanted_ = false;
    uint32_t frameId_ = 0;
    std::map<uint32_t, std::vector<bool>> frames_; // which of each picture's pieces arrived
    std::deque<std::pair<Instant, Packet>> paced_;
    std::deque<Packet> queue_;
    std::size_t queued_ = 0;
    double tokens_ = 0;
    // The client.
    std::vector<std::pair<Instant, std::size_t>> whole_; // when, and its bits
    uint32_t lastWhole_ = 0;
    Instant lastAsk_{};
    int wholeSinceTick_ = 0;
    int staleTicks_ = 0;
    // The control connection.
    uint32_t segmentId_ = 0;
    std::map<uint32_t, Segment> segments_;
    std::deque<std::pair<Instant, uint32_t>> acks_;
    // The handshake's quick exchanges measured the way's own round trip before any video was sent.
    std::chrono::microseconds srtt_{200}, rttvar_{100}, least_{200};
    uint32_t sentAgain_ = 0;
    std::vector<Seen> changes_;
    std::vector<std::pair<Instant, int64_t>> rates_;
};

} // namespace dovrel::test
