#pragma once

#include <chrono>
#include <cstdint>

#include "runtime/Scheduler.h"

namespace dovrel::controller {

// Whether the link carries less than the picture needs: pieces keep being dropped until the agent, which
// follows the link, has come down to what it carries, and again whenever the link slows.
// Before the first picture: pieces of pictures keep arriving, yet no keyframe has come whole for
// `after` since the session began or since the last whole one (nothing can be shown).
// Once pictures are shown: for `after` in a row, every second brought pictures and most of them did not
// reach the screen whole, or some did not and a keyframe asked for had still not come whole; it holds
// until pictures have come whole, and only whole, for `clearAfter` in a row. What reached the screen is
// the decoder's word, not the link's: a picture whose pieces all came may still be shown concealed (it
// refers to one that was damaged) or held back (the last good picture standing in), and on a link that
// loses a piece now and then that is most of them.
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
        const uint64_t decoded = seenDecoded_, whole = seenWhole_;
        *this = SlowLinkWatch{};
        seenDecoded_ = decoded;
        seenWhole_ = whole;
        since_ = now;
    }
    // A piece of a picture arrived.
    void piece() { piecesCame_ = true; }
    // `lost` pictures never came at all.
    void picturesLost(uint32_t lost) { lost_ += lost; }
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
    // `decoded` and `whole`: the decoder's counts of the pictures it took up and of those that came out
    // whole, so far (they only grow).
    bool tick(Instant now, bool picturesShown, uint64_t decoded, uint64_t whole) {
        const bool piecesCame = piecesCame_;
        // A picture taken up before the last tick may have come out whole after it.
        const uint64_t newWhole = whole - seenWhole_, newDecoded = decoded - seenDecoded_;
        const uint64_t damaged = lost_ + (newDecoded > newWhole ? newDecoded - newWhole : 0);
        seenDecoded_ = decoded;
        seenWhole_ = whole;
        piecesCame_ = false;
        lost_ = 0;
        if (!picturesShown) {
            // Nothing to show yet: the old picture's seconds do not carry over to the first one.
            badSince_ = goodSince_ = {};
            slow_ = piecesCame && now - since_ >= after;
            return slow_;
        }
        const bool keyframeOverdue = askedAt_ != Instant{} && now - askedAt_ >= keyframeDue;
        // An overdue keyframe counts only with damage beside it: a peer may grant a request late, or
        // never, while its pictures come whole.
        const bool bad = piecesCame && (damaged > newWhole || (keyframeOverdue && damaged > 0));
        const bool good = newWhole > 0 && damaged == 0;
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
    bool piecesCame_ = false;  // since the last tick
    uint32_t lost_ = 0;        // pictures lost whole since the last tick
    uint64_t seenDecoded_ = 0; // the decoder's counts at the last tick
    uint64_t seenWhole_ = 0;
    Instant askedAt_{};   // the oldest keyframe request not answered by a whole keyframe
    Instant badSince_{};  // the run of bad seconds began; zero when the last second was not bad
    Instant goodSince_{}; // the run of whole seconds began
    bool slow_ = false;
};

} // namespace dovrel::controller
