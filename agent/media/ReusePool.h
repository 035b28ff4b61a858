#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

namespace dovrel::agent {

// A few buffers that frames point into. A buffer is handed out again only when the pool holds the last
// reference to it, i.e. every frame made from it is gone; so a slow consumer never sees its pixels
// change under it, and the source skips a picture instead of allocating without end.
// Used from one thread (the producer's); consumers on other threads only drop their references.
template <typename T> class ReusePool {
public:
    explicit ReusePool(std::size_t limit) : limit_(limit) {}

    // A free buffer, a new one from `make()` while fewer than the limit exist, or nullptr.
    template <typename Make> std::shared_ptr<T> take(Make&& make) {
        for (auto& b : buffers_) {
            if (b.use_count() == 1) {
                // Pairs with the release in the consumer's last reference drop: its reads of the
                // pixels happen before we write new ones.
                std::atomic_thread_fence(std::memory_order_acquire);
                return b;
            }
        }
        if (buffers_.size() >= limit_) return nullptr;
        std::shared_ptr<T> fresh = make();
        if (fresh) buffers_.push_back(fresh);
        return fresh;
    }

    void clear() { buffers_.clear(); }
    std::size_t size() const { return buffers_.size(); }

private:
    std::size_t limit_;
    std::vector<std::shared_ptr<T>> buffers_;
};

} // namespace dovrel::agent
