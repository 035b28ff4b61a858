#include "agent/media/KeyframeSpacing.h"

namespace dovrel::agent {

bool KeyframeSpacing::spaced(Instant now) const {
    return !lastKeyframeAt_ || picturesSince_ >= minPictures || now - *lastKeyframeAt_ >= maxWait;
}

bool KeyframeSpacing::request(Instant now) {
    const std::lock_guard g(lock_);
    if (spaced(now)) return true;
    waiting_ = true;
    return false;
}

bool KeyframeSpacing::picture(bool keyframe, Instant now) {
    const std::lock_guard g(lock_);
    if (keyframe) {
        lastKeyframeAt_ = now;
        picturesSince_ = 0;
        waiting_ = false; // whatever waited is answered by this one
        return false;
    }
    ++picturesSince_;
    if (!waiting_ || !spaced(now)) return false;
    waiting_ = false;
    return true;
}

} // namespace dovrel::agent
