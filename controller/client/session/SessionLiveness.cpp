#include "controller/client/session/SessionLiveness.h"

#include <algorithm>

namespace dovrel::controller {

using namespace std::chrono_literals;

namespace {
constexpr auto quietLink = 6s;
} // namespace

SessionLiveness::Tick SessionLiveness::tick(Instant now, Instant nowReal, uint64_t displayedFrames, int64_t rxBytes,
                                            bool inSession) {
    // The round trip is measured from here, so the ping carries no time of its own.
    pingSentAt_ = now;
    pingSentReal_ = nowReal;

    Tick t;
    const int64_t delta = static_cast<int64_t>(displayedFrames) - static_cast<int64_t>(lastFrames_);
    lastFrames_ = displayedFrames;
    t.fps = static_cast<int>(std::max<int64_t>(delta, 0));
    t.receivedBytes = rxBytes - rxFlushed_;
    rxFlushed_ = rxBytes;
    if (!inSession) return t;

    if (lastPongAt_ != Instant{} && now - lastPongAt_ > quietLink) {
        lastPongAt_ = now;
        t.linkQuiet = true;
        return t;
    }
    if (delta < 1) {
        ++staleVideoTicks_;
        t.pictureStale = staleVideoTicks_ >= 2;
    } else {
        staleVideoTicks_ = 0;
    }
    return t;
}

std::optional<SessionLiveness::Pong> SessionLiveness::answered(Instant now) {
    if (pingSentAt_ == Instant{}) return std::nullopt;
    lastPongAt_ = now;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now - pingSentAt_).count();
    return Pong{static_cast<int64_t>(static_cast<double>(ns) / 1'000'000.0), pingSentReal_};
}

} // namespace dovrel::controller
