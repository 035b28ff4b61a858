#pragma once

#include <chrono>

#include "runtime/Scheduler.h"

namespace dovrel::controller {

// Whether the link carries less than the picture needs: pieces of pictures keep arriving, yet no
// keyframe has come whole for `after` since the session began or since the last whole one. The picture's
// budget is fixed and follows no link, so on a slower one every keyframe loses pieces and nothing can be
// shown; only a lower budget on the agent helps. Client thread only.
class SlowLinkWatch {
public:
    static constexpr std::chrono::seconds after{5};

    // A session stands from `now`: nothing of an earlier one counts.
    void sessionStarted(Instant now) {
        since_ = now;
        piecesCame_ = false;
    }
    // A piece of a picture arrived.
    void piece() { piecesCame_ = true; }
    // A keyframe came whole at `now`.
    void wholeKeyframe(Instant now) { since_ = now; }
    // Once a second: the link seems too slow (pieces came since the last tick, and no whole keyframe for
    // `after`).
    bool tick(Instant now) {
        const bool slow = piecesCame_ && now - since_ >= after;
        piecesCame_ = false;
        return slow;
    }

private:
    Instant since_{};
    bool piecesCame_ = false; // since the last tick
};

} // namespace dovrel::controller
