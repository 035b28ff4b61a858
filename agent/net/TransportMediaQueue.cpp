#include "agent/net/TransportMediaQueue.h"

#include <utility>

namespace dovrel::agent {

TransportMediaQueue::TransportMediaQueue(const SerialQueue& owner, Sink sink, std::function<void()> onVideoDropped,
                                         std::shared_ptr<MediaCounters> counters, Limits limits)
    : owner_(owner), sink_(std::move(sink)), onVideoDropped_(std::move(onVideoDropped)),
      counters_(counters ? std::move(counters) : std::make_shared<MediaCounters>()), limits_(limits) {}

bool TransportMediaQueue::push(wex::Bytes frame, bool isVideo) {
    if (frame.empty()) return false;
    const std::lock_guard guard(lock_);
    // Posting happens under the lock: close() takes it too, so nothing is posted to a queue thread
    // after the owner has closed this queue on its way down.
    if (closed_) return false;
    const std::size_t size = frame.size();
    if (isVideo) {
        const bool full = videoBytes_ + size > limits_.videoBytes;
        const bool stillDraining = droppingVideo_ && videoBytes_ > limits_.videoBytes / 2;
        if (full || stillDraining) {
            counters_->videoDropped.fetch_add(1, std::memory_order_relaxed);
            if (!droppingVideo_) {
                droppingVideo_ = true;
                owner_.post([weak = weak_from_this()] {
                    const auto self = weak.lock();
                    if (!self) return;
                    bool open = false;
                    {
                        const std::lock_guard g(self->lock_);
                        open = !self->closed_;
                    }
                    if (open && self->onVideoDropped_) self->onVideoDropped_();
                });
            }
            return false;
        }
        droppingVideo_ = false;
        videoBytes_ += size;
    } else {
        if (audioBytes_ + size > limits_.audioBytes) {
            counters_->audioDropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        audioBytes_ += size;
    }
    items_.push_back({std::move(frame), isVideo});
    postDrainUnderLock();
    return true;
}

void TransportMediaQueue::requestDrain() {
    const std::lock_guard guard(lock_);
    if (!closed_) postDrainUnderLock();
}

void TransportMediaQueue::postDrainUnderLock() {
    if (drainPosted_) return;
    drainPosted_ = true;
    owner_.post([weak = weak_from_this()] {
        if (const auto self = weak.lock()) self->drain();
    });
}

void TransportMediaQueue::drain() {
    owner_.assertCurrent(__func__);
    {
        const std::lock_guard guard(lock_);
        drainPosted_ = false;
        if (closed_) return;
    }
    // A flush may hand everything to the kernel at once, and then no written-bytes signal follows to
    // ask for more: so after each flush the link's room is looked at again.
    for (;;) {
        bool wrote = false;
        bool linkGone = false;
        while (sink_.backlog() < limits_.socketBacklog) {
            Item item;
            {
                const std::lock_guard guard(lock_);
                if (closed_ || items_.empty()) break;
                item = std::move(items_.front());
                items_.pop_front();
                (item.isVideo ? videoBytes_ : audioBytes_) -= item.frame.size();
            }
            if (!sink_.write(item.frame)) {
                linkGone = true;
                const std::lock_guard guard(lock_);
                linkGone_ = true;
                break;
            }
            wrote = true;
            (item.isVideo ? counters_->videoSent : counters_->audioSent).fetch_add(1, std::memory_order_relaxed);
        }
        if (!wrote) return;
        sink_.flush();
        if (linkGone || sink_.backlog() >= limits_.socketBacklog) return; // the link will say when it has room
    }
}

void TransportMediaQueue::close() {
    owner_.assertCurrent(__func__);
    const std::lock_guard guard(lock_);
    closed_ = true;
    items_.clear();
    videoBytes_ = 0;
    audioBytes_ = 0;
}

std::size_t TransportMediaQueue::queuedBytes() const {
    const std::lock_guard guard(lock_);
    return videoBytes_ + audioBytes_;
}

bool TransportMediaQueue::linkUp() const {
    const std::lock_guard guard(lock_);
    return !closed_ && !linkGone_;
}

} // namespace dovrel::agent
