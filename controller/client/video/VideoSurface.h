#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "controller/client/video/VideoPicture.h"

namespace dovrel::controller {

// Where the video decoder puts the pictures it decodes, and where a view takes the newest one from to
// draw it: the session window's display surface. The view owns it; the decoder holds it weakly, so a
// closed window frees it even while the session goes on. Only the newest picture is kept: a view that
// draws late skips pictures instead of falling behind. Safe from any thread.
class VideoSurface {
public:
    // Called on the decoder's thread after each new picture is stored. Keep it short; it must not call
    // back into the surface's setObserver.
    using Observer = std::function<void(const VideoPicture&)>;

    void enqueue(VideoPicture picture);
    // The newest picture, if any.
    std::optional<VideoPicture> latest() const;
    // The newest picture when it is newer than the one numbered `seen` (pictures are numbered 1, 2, …
    // as they come), and then its number in `seen`.
    std::optional<VideoPicture> newerThan(uint64_t& seen) const;
    uint64_t generation() const;

    // Replaces the observer. Once this returns, the previous observer is not running and will not run
    // again.
    void setObserver(Observer observer);

private:
    mutable std::mutex lock_;
    std::optional<VideoPicture> latest_;
    uint64_t generation_ = 0;
    std::mutex observerLock_; // held while the observer runs
    Observer observer_;
};

} // namespace dovrel::controller
