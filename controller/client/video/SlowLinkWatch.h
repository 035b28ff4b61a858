#pragma once

#include <chrono>
#include <cstdint>

#include "runtime/Scheduler.h"

namespace dovrel::controller {

// Whether the link carries less than the picture needs: pieces keep being dropped until the agent, which
// follows the link, has come down to what it carries, and again whenever the link slows.
// Before the first picture: pieces of pictures keep arriving, yet no keyframe has come whole for
// `after` since the session began or since the last whole one (nothing can be shown).
// Once pictures are shown: for `after` in a row, every second brought pictures and most of them were
// damaged (pieces lost, or lost whole), or some were and a keyframe asked for had still not come whole;
// it holds until pictures have come whole, and only whole, for `clearAfter` in a row.
// Client thread only.
class SlowLinkWatch {
public:
    static constexpr std::chrono::seconds after{5};
    static constexpr std::chrono::seconds clearAfter{3};
    // A keyframe asked for that has not come whole by then counts as lost (the agent may hold a request
    // back for a second to keep keyframes apart).
    static constexpr std::chrono::seconds keyframeDue{2};

    // A session stands from `now`: nothing of an earlier one counts.
    void sessionStarted(Instant now) {
        *this = SlowLinkWatch{};
        since_ = now;
    }
    // A piece of a picture arrived.
    void piece() { piecesCame_ = true; }
    // A picture went to the decoder whole, or with pieces missing; `lost` pictures never came at all.
    void picture(bool damaged) { ++(damaged ? damaged_ : whole_); }
    void picturesLost(uint32_t lost) { damaged_ += lost; }
    // A keyframe was asked for at `now`: it is due within keyframeDue (the first unanswered ask counts).
    void keyframeAsked(Instant now) {
        if (askedAt_ == Instant{}) askedAt_ = now;
    }
    // A keyframe came whole at `now`.
    void wholeKeyframe(Instant now) {
        since_ = now;
        askedAt_ = {};
    }

    // Once a second: whether the link seems too slow. `picturesShown`: the session shows pictures.
    bool tick(Instant now, bool picturesShown) {
        const bool piecesCame = piecesCame_;
        const uint32_t whole = whole_, damaged = damaged_;
        piecesCame_ = false;
        whole_ = damaged_ = 0;
        if (!picturesShown) {
            // Nothing to show yet: the old picture's seconds do not carry over to the first one.
            badSince_ = goodSince_ = {};
            slow_ = piecesCame && now - since_ >= after;
            return slow_;
        }
        const bool keyframeOverdue = askedAt_ != Instant{} && now - askedAt_ >= keyframeDue;
        // An overdue keyframe counts only with damage beside it: a peer may grant a request late, or
        // never, while its pictures come whole.
        const bool bad = piecesCame && (damaged > whole || (keyframeOverdue && damaged > 0));
        const bool good = whole > 0 && damaged == 0;
        // A second's pictures stand for the second before the tick.
        const Instant begun = now - std::chrono::seconds(1);
        badSince_ = !bad ? Instant{} : badSince_ == Instant{} ? begun : badSince_;
        goodSince_ = !good ? Instant{} : goodSince_ == Instant{} ? begun : goodSince_;
        if (!slow_ && badSince_ != Instant{} && now - badSince_ >= after) slow_ = true;
        if (slow_ && goodSince_ != Instant{} && now - goodSince_ >= clearAfter) slow_ = false;
        return slow_;
    }

private:
    Instant since_{};
    bool piecesCame_ = false; // since the last tick
    uint32_t whole_ = 0;      // pictures since the last tick
    uint32_t damaged_ = 0;
    Instant askedAt_{};   // the oldest keyframe request not answered by a whole keyframe
    Instant badSince_{};  // the run of bad seconds began; zero when the last second was not bad
    Instant goodSince_{}; // the run of whole seconds began
    bool slow_ = false;
};

} // namespace dovrel::controller
