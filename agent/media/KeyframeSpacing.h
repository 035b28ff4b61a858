#pragma once

#include <chrono>
#include <mutex>
#include <optional>

#include "runtime/Scheduler.h"

namespace dovrel::agent {

// Keeps forced keyframes apart. Under steady loss the client asks for a keyframe several times a
// second, and a big keyframe is the picture most likely to lose a piece. A decoder that missed a
// keyframe treats pictures of a group much shorter than the one before as out of order and shows
// none of them, so keyframes forced closer than `minPictures` apart would freeze the picture instead
// of healing it. A request that comes too soon is kept, not lost: it is granted with the picture that
// completes the spacing, or after `maxWait` (a still screen sends few pictures).
//
// Thread-safe: requests come from the control dispatch, pictures from the encoder's output.
class KeyframeSpacing {
public:
    static constexpr int minPictures = 18;
    static constexpr std::chrono::milliseconds maxWait{1000};

    // A keyframe was asked for: true when it is to be forced now, false when it waits.
    bool request(Instant now);
    // A picture left the encoder: true when a waiting request is to be forced now.
    bool picture(bool keyframe, Instant now);

private:
    bool spaced(Instant now) const;

    std::mutex lock_;
    std::optional<Instant> lastKeyframeAt_;
    int picturesSince_ = 0;
    bool waiting_ = false;
};

} // namespace dovrel::agent
