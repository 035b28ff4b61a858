#include "agent/media/X11ScreenCapturer.h"

#include <algorithm>
#include <condition_variable>
#include <utility>

#include "agent/common/AgentError.h"
#include "agent/common/AgentLog.h"
#include "agent/common/Diag.h"
#include "agent/common/ThreadName.h"
#include "agent/media/PulseAudioCapturer.h"
#include "agent/media/X11Grabber.h"

namespace dovrel::agent {

namespace {
using Clock = std::chrono::steady_clock;
constexpr int maxFPS = 240;
} // namespace

// The capture thread's state, shared with the capturer so that the thread can end safely even when
// the capturer is destroyed from one of its own callbacks.
struct X11ScreenCapturer::Loop {
    std::unique_ptr<X11Grabber> grabber;
    FrameCallback onFrame;
    StoppedCallback onStopped;
    std::shared_ptr<std::atomic<int>> fps;

    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    bool forced = false;  // deliver on the next tick
    bool retimed = false; // the rate changed: tick now and keep the new pace from here

    void run();
    void stop(std::thread& thread) {
        {
            const std::lock_guard guard(lock);
            stopping = true;
        }
        wake.notify_all();
        if (!thread.joinable()) return;
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
};

void X11ScreenCapturer::Loop::run() {
    nameCurrentThread("dovrel.capture");
    Clock::time_point next = Clock::now();
    Clock::time_point lastDelivered{};
    std::unique_lock lk(lock);
    while (!stopping) {
        const bool force = std::exchange(forced, false);
        retimed = false;
        lk.unlock();
        std::string failure;
        try {
            const Clock::time_point t = Clock::now();
            const bool changed = grabber->changedSinceLastGrab();
            Diag::stamp(Diag::Stamp::lastStreamAt, t);
            if (changed || force || t - lastDelivered >= heartbeat) {
                if (const std::optional<CapturedFrame> frame = grabber->grab(t)) {
                    lastDelivered = t;
                    if (onFrame) onFrame(*frame);
                }
            }
        } catch (const AgentError& e) {
            failure = e.what();
            if (failure.starts_with("capture: ")) failure.erase(0, 9);
        } catch (const std::exception& e) {
            failure = e.what(); // out of memory and the like: this stream is done, a restart may do better
        }
        lk.lock();
        if (!failure.empty()) {
            if (stopping) return; // stopped on purpose; the failure is a consequence
            lk.unlock();
            print("• screen capture STOPPED by the system: " + failure);
            if (onStopped) onStopped(failure);
            return;
        }
        const auto interval = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) /
                              std::clamp(fps->load(std::memory_order_relaxed), 1, maxFPS);
        next += interval;
        const Clock::time_point now = Clock::now();
        if (next < now - interval) next = now; // fell behind: no burst of catch-up grabs
        wake.wait_until(lk, next, [this] { return stopping || forced || retimed; });
        if (forced || retimed) next = Clock::now();
    }
}

X11ScreenCapturer::X11ScreenCapturer(FrameCallback onFrame) : X11ScreenCapturer(std::move(onFrame), Options{}) {}

X11ScreenCapturer::X11ScreenCapturer(FrameCallback onFrame, Options options)
    : onFrame_(std::move(onFrame)), displayName_(std::move(options.displayName)), audio_(std::move(options.audio)),
      clock_(options.clock), fps_(std::make_shared<std::atomic<int>>(60)) {
    if (!audio_) audio_ = std::make_shared<PulseAudioCapturer>();
}

X11ScreenCapturer::~X11ScreenCapturer() {
    const std::lock_guard guard(lifecycle_);
    stopUnderLock();
}

Instant X11ScreenCapturer::now() const { return clock_ ? clock_->now() : Clock::now(); }

void X11ScreenCapturer::setOnAudio(AudioCallback cb) {
    const std::lock_guard guard(stateLock_);
    onAudio_ = std::move(cb);
}

void X11ScreenCapturer::setOnStreamStopped(StoppedCallback cb) {
    const std::lock_guard guard(stateLock_);
    onStopped_ = std::move(cb);
}

void X11ScreenCapturer::refreshDisplays() {
    const std::lock_guard guard(lifecycle_);
    X11Grabber probe(displayName_);
    std::vector<MonitorInfo> found = probe.monitors();
    const std::lock_guard state(stateLock_);
    displays_ = std::move(found);
}

void X11ScreenCapturer::start(int index) {
    const std::lock_guard guard(lifecycle_);
    startUnderLock(index);
}

void X11ScreenCapturer::startUnderLock(int index) {
    // List the monitors on a fresh connection first: when that fails, a running capture goes on.
    auto grabber = std::make_unique<X11Grabber>(displayName_);
    std::vector<MonitorInfo> found = grabber->monitors();
    if (found.empty()) throw AgentError(AgentError::Kind::capture, "no display found");
    const int i = std::clamp(index, 0, static_cast<int>(found.size()) - 1);
    const MonitorInfo chosen = found[static_cast<std::size_t>(i)];
    AudioCallback onAudio;
    StoppedCallback onStopped;
    {
        const std::lock_guard state(stateLock_);
        displays_ = std::move(found);
        currentIndex_ = i;
        width_ = chosen.width;
        height_ = chosen.height;
        onAudio = onAudio_;
        onStopped = onStopped_;
    }
    stopUnderLock();

    grabber->select(chosen);
    auto loop = std::make_shared<Loop>();
    loop->grabber = std::move(grabber);
    loop->onFrame = onFrame_;
    loop->onStopped = std::move(onStopped);
    loop->fps = fps_;
    thread_ = std::thread([loop] { loop->run(); });
    {
        const std::lock_guard state(stateLock_);
        loop_ = loop;
    }
    if (onAudio) startAudio(std::move(onAudio));
}

void X11ScreenCapturer::startAudio(AudioCallback onAudio) {
    const Instant at = now();
    if (audioRefusedAt_ && at - *audioRefusedAt_ < audioRetryAfter) return; // refused lately: video only
    try {
        audio_->start([cb = std::move(onAudio)](std::span<const int16_t> samples, uint32_t rate, uint8_t channels) {
            Diag::stamp(Diag::Stamp::lastStreamAt, Clock::now());
            cb(samples, rate, channels);
        });
        audioRefusedAt_.reset();
    } catch (const std::exception& e) {
        audioRefusedAt_ = at;
        print(std::string("⚠︎ the stream would not start WITH audio (") + e.what() +
              ") — starting it video-only so the screen still works");
        print("• capture started VIDEO-ONLY — this computer is refusing system audio right now");
    }
}

void X11ScreenCapturer::restart() {
    const std::lock_guard guard(lifecycle_);
    stopUnderLock();
    int index = 0;
    {
        const std::lock_guard state(stateLock_);
        index = currentIndex_;
    }
    startUnderLock(index);
}

void X11ScreenCapturer::stopUnderLock() {
    std::shared_ptr<Loop> loop;
    {
        const std::lock_guard state(stateLock_);
        loop = std::move(loop_);
    }
    if (loop) loop->stop(thread_);
    audio_->stop();
}

std::string X11ScreenCapturer::name(int index) const {
    const std::lock_guard state(stateLock_);
    if (index >= 0 && index < static_cast<int>(displays_.size())) {
        const bool anyPrimary =
            std::any_of(displays_.begin(), displays_.end(), [](const auto& m) { return m.primary; });
        // Without a primary monitor the first one plays that part, as the desktop itself does.
        if (displays_[static_cast<std::size_t>(index)].primary || (!anyPrimary && index == 0)) return "Main display";
    }
    return "Display " + std::to_string(static_cast<int64_t>(index) + 1);
}

std::vector<MonitorInfo> X11ScreenCapturer::displays() const {
    const std::lock_guard state(stateLock_);
    return displays_;
}

int X11ScreenCapturer::currentIndex() const {
    const std::lock_guard state(stateLock_);
    return currentIndex_;
}

int X11ScreenCapturer::width() const {
    const std::lock_guard state(stateLock_);
    return width_;
}

int X11ScreenCapturer::height() const {
    const std::lock_guard state(stateLock_);
    return height_;
}

int X11ScreenCapturer::captureFPS() const { return fps_->load(std::memory_order_relaxed); }

void X11ScreenCapturer::setCaptureFPS(int fps) {
    fps_->store(std::clamp(fps, 1, maxFPS), std::memory_order_relaxed);
    std::shared_ptr<Loop> loop;
    {
        const std::lock_guard state(stateLock_);
        loop = loop_;
    }
    if (!loop) return;
    {
        const std::lock_guard guard(loop->lock);
        loop->retimed = true;
    }
    loop->wake.notify_all();
}

void X11ScreenCapturer::requestFrame() {
    std::shared_ptr<Loop> loop;
    {
        const std::lock_guard state(stateLock_);
        loop = loop_;
    }
    if (!loop) return;
    {
        const std::lock_guard guard(loop->lock);
        loop->forced = true;
    }
    loop->wake.notify_all();
}

std::optional<Instant> X11ScreenCapturer::audioRefusedAt() {
    const std::lock_guard guard(lifecycle_);
    return audioRefusedAt_;
}

} // namespace dovrel::agent
