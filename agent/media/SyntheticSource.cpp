#include "agent/media/SyntheticSource.h"

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "agent/common/ThreadName.h"
#include "agent/media/ReusePool.h"
#include "runtime/SignalStack.h"

namespace dovrel::agent {

struct SyntheticSource::State {
    int width;
    int height;
    FrameCallback onFrame;
    ReusePool<FrameBuffer> pool{3};
    uint64_t t = 0; // frames produced so far; the timer thread's alone
    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;

    void run();
};

SyntheticSource::SyntheticSource(int width, int height, FrameCallback onFrame)
    : width_(width), height_(height), state_(std::make_shared<State>()) {
    state_->width = width;
    state_->height = height;
    state_->onFrame = std::move(onFrame);
}

SyntheticSource::~SyntheticSource() {
    {
        const std::lock_guard guard(state_->lock);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach(); // it holds the state and ends on its own
    else
        thread_.join();
}

void SyntheticSource::start() {
    if (thread_.joinable()) return;
    thread_ = std::thread([state = state_] { state->run(); });
}

void SyntheticSource::paint(FrameBuffer& buffer, uint64_t t) {
    const int w = buffer.width(), h = buffer.height();
    for (int y = 0; y < h; ++y)
        std::memset(buffer.plane(0) + static_cast<std::ptrdiff_t>(y) * buffer.stride(0),
                    static_cast<int>((static_cast<uint64_t>(y) + t) % 256), static_cast<std::size_t>(w));
    // Chroma rows whole, padding included: neutral everywhere.
    const std::size_t chromaBytes = static_cast<std::size_t>(buffer.stride(1)) * static_cast<std::size_t>((h + 1) / 2);
    std::memset(buffer.plane(1), 128, chromaBytes);
    std::memset(buffer.plane(2), 128, chromaBytes);
}

void SyntheticSource::State::run() {
    armSignalStack();
    nameCurrentThread("dovrel.synth");
    auto due = std::chrono::steady_clock::now();
    std::unique_lock lk(lock);
    while (!stopping) {
        lk.unlock();
        std::shared_ptr<FrameBuffer> buffer = pool.take([this]() -> std::shared_ptr<FrameBuffer> {
            try {
                return std::make_shared<FrameBuffer>(PixelFormat::yuv420p, width, height);
            } catch (const std::bad_alloc&) {
                return nullptr; // no buffer, no frame; the timer keeps running
            }
        });
        if (buffer) {
            paint(*buffer, t);
            ++t;
            const CapturedFrame frame = FrameBuffer::frame(buffer, std::chrono::steady_clock::now());
            buffer.reset();
            if (onFrame) onFrame(frame);
        }
        lk.lock();
        due += interval;
        const auto now = std::chrono::steady_clock::now();
        if (due < now - interval) due = now; // fell behind: go on from now rather than burst to catch up
        wake.wait_until(lk, due, [this] { return stopping; });
    }
}

} // namespace dovrel::agent
