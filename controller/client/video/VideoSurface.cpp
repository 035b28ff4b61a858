#include "controller/client/video/VideoSurface.h"

namespace dovrel::controller {

void VideoSurface::enqueue(VideoPicture picture) {
    {
        const std::lock_guard g(lock_);
        latest_ = picture;
        ++generation_;
    }
    const std::lock_guard g(observerLock_);
    if (observer_) observer_(picture);
}

std::optional<VideoPicture> VideoSurface::latest() const {
    const std::lock_guard g(lock_);
    return latest_;
}

std::optional<VideoPicture> VideoSurface::newerThan(uint64_t& seen) const {
    const std::lock_guard g(lock_);
    if (!latest_ || generation_ == seen) return std::nullopt;
    seen = generation_;
    return latest_;
}

uint64_t VideoSurface::generation() const {
    const std::lock_guard g(lock_);
    return generation_;
}

void VideoSurface::setObserver(Observer observer) {
    const std::lock_guard g(observerLock_);
    observer_ = std::move(observer);
}

} // namespace dovrel::controller
