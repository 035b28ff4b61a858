#pragma once

#include <cstdint>
#include <optional>

#include "runtime/Scheduler.h"

namespace dovrel::controller {

// The once-a-second bookkeeping of a session: the ping in flight, when the agent last answered, and the
// frames and bytes counted at the last tick. It decides; the client sends, publishes and re-dials.
// Client thread only. The instants are zero until first set and survive sessions.
class SessionLiveness {
public:
    struct Tick {
        int fps = 0;               // pictures shown since the last tick
        int64_t receivedBytes = 0; // bytes received since the last tick
        bool linkQuiet = false;    // the agent has not answered for too long: re-dial the link
        bool pictureStale = false; // the picture stood still for two ticks or more
    };
    struct Pong {
        int64_t latencyMs = 0;
        Instant pingSentReal{}; // when the ping left, on the real monotonic clock
    };

    // A tick at `now` (and `nowReal` on the real monotonic clock), when a ping goes out. The link and the
    // picture are judged only `inSession`.
    Tick tick(Instant now, Instant nowReal, uint64_t displayedFrames, int64_t rxBytes, bool inSession);
    // The agent answered a ping at `now`; nothing before the first ping was sent.
    std::optional<Pong> answered(Instant now);
    // A session stands from `now`: one that never answers is re-dialled, but a past session's last
    // answer is never taken for this one's.
    void sessionStarted(Instant now) { lastPongAt_ = now; }

private:
    Instant pingSentAt_{};
    Instant pingSentReal_{};
    // Zero until the first session stands.
    Instant lastPongAt_{};
    uint64_t lastFrames_ = 0;
    int staleVideoTicks_ = 0;
    int64_t rxFlushed_ = 0;
};

} // namespace dovrel::controller
