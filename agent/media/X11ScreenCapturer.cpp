#include "agent/media/X11ScreenCapturer.h"

#include <algorithm>
#include <utility>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "agent/common/AgentError.h"
#include "agent/common/AgentLog.h"
#include "agent/common/Diag.h"
#include "agent/common/ThreadName.h"
#include "agent/common/UniqueFd.h"
#include "agent/media/X11Grabber.h"
#include "runtime/SignalStack.h"

namespace dovrel::agent {

namespace {
using Clock = std::chrono::steady_clock;

// Watches when changes come against the grid of grab slots, and moves the grid to a desktop's phase.
struct GridPhase {
    static constexpr int firstTry = 3; // changes in a row that came early before the grid moves
    static constexpr int mostTries = 64;
    bool seen = false; // a change is waiting for its slot
    int earlyInARow = 0;
    int triesNeeded = firstTry;
    int grabsSinceMove = -1; // -1: the grid was not moved lately

    // A change first seen at `t`, before its slot: moves `slot` when such changes keep a phase.
    void changeSeen(Clock::time_point t, Clock::time_point& slot, Clock::duration interval) {
        seen = true;
        const bool early = slot - t > interval / 8;
        if (grabsSinceMove == 1) // the first change after a move tells whether the move took
            triesNeeded = early ? std::min(triesNeeded * 2, mostTries) : firstTry;
        earlyInARow = early ? earlyInARow + 1 : 0;
        if (earlyInARow < triesNeeded) return;
        slot = t + interval + interval / 16;
        earlyInARow = 0;
        grabsSinceMove = 0;
    }
    void grabbed() {
        if (!seen) earlyInARow = 0; // this grab's change was not early
        seen = false;
        if (grabsSinceMove >= 0 && ++grabsSinceMove > 1) grabsSinceMove = -1;
    }
};
} // namespace

// The capture thread's state, shared with the capturer so that the thread can end safely even when
// the capturer is destroyed from one of its own callbacks.
struct X11ScreenCapturer::Loop {
    std::unique_ptr<X11Grabber> grabber;
    FrameCallback onFrame;
    StoppedCallback onStopped;
    std::shared_ptr<std::atomic<int>> fps;
    UniqueFd wakeFd{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)}; // stop, requests and new rates

    std::mutex lock;
    bool stopping = false;
    bool forced = false;  // deliver at once
    int kept = 0;         // pictures still to deliver at the rate whether or not anything changed
    bool retimed = false; // the rate changed: look again now

    void run();
    // Waits until `deadline`, a wake from the capturer, or (when `xEvents`) an event from the server.
    void waitUntil(Clock::time_point deadline, bool xEvents);
    void poke() {
        const uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wakeFd.get(), &one, sizeof one);
    }
    void stop(std::thread& thread) {
        {
            const std::lock_guard guard(lock);
            stopping = true;
        }
        poke();
        if (!thread.joinable()) return;
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
};

void X11ScreenCapturer::Loop::waitUntil(Clock::time_point deadline, bool xEvents) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
    if (left <= 0) return;
    pollfd fds[2] = {{wakeFd.get(), POLLIN, 0}, {grabber->eventFd(), POLLIN, 0}};
    // To the microsecond: grabs that follow a screen drawn at the same rate must not drift behind it.
    const int64_t capped = std::min<int64_t>(left, 60'000'000'000);
    const timespec timeout{static_cast<time_t>(capped / 1'000'000'000), static_cast<long>(capped % 1'000'000'000)};
    ::ppoll(fds, xEvents ? 2 : 1, &timeout, nullptr);
    if (fds[0].revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] const auto n = ::read(wakeFd.get(), &count, sizeof count);
    }
}

// Capture follows the screen: DAMAGE wakes the thread the moment anything is drawn, and the grab follows
// at once when its slot has come; otherwise it waits for the slot. Slots lie one frame interval apart
// on a grid that a grab keeps as long as it comes within half an interval of its slot, so a screen drawn
// at the capture rate is grabbed right after each drawing instead of drifting behind it (spacing grabs
// by a whole interval from each actual grab would add every wake-up delay to the next). The grab rate
// never exceeds the frame rate. Between changes the thread looks at the pointer once an interval (a
// moving pointer draws no DAMAGE), and a still screen is grabbed once a second all the same, or at the
// rate for as many pictures as requestFrames asked for.
//
// A desktop that draws at the capture rate keeps its phase against the grid for good: changes that come
// before their slot (by an eighth of an interval or more) would wait for it frame after frame, up to an
// interval each. When three such changes come in a row, the grid moves to their phase: the next grab comes
// an interval and a sixteenth after the change, just after the desktop's next frame, and the frames after
// that are grabbed as they come. That grab comes later than its slot would have, so the rate never rises. A move that
// does not take (a desktop that draws all the time or faster than the rate has no one phase) waits twice as long before
// the next, up to 64 changes, so such a screen loses at most a fraction of a frame now and then.
void X11ScreenCapturer::Loop::run() {
    armSignalStack();
    nameCurrentThread("dovrel.capture");
    Clock::time_point slot{}; // the earliest time of the next grab
    Clock::time_point lastDelivered{};
    GridPhase phase;
    std::unique_lock lk(lock);
    while (!stopping) {
        const bool force = std::exchange(forced, false);
        const bool keep = kept > 0;
        if (std::exchange(retimed, false)) slot = {}; // a new rate: a new grid from the next grab
        lk.unlock();
        const auto interval = captureInterval(fps->load(std::memory_order_relaxed));
        std::string failure;
        bool pending = false;
        try {
            const Clock::time_point t = Clock::now();
            const bool changed = grabber->changedSinceLastGrab();
            Diag::stamp(Diag::Stamp::lastStreamAt, t);
            const bool due = changed || force || keep || t - lastDelivered >= heartbeat;
            if (due && (force || t >= slot)) {
                phase.grabbed();
                if (t - slot > interval / 2) slot = t; // off the grid (a still screen, a late wake): a new one
                slot += interval;
                if (const std::optional<CapturedFrame> frame = grabber->grab(t)) {
                    lastDelivered = t;
                    if (keep && !force) {
                        const std::lock_guard guard(lock);
                        kept = std::max(kept - 1, 0);
                    }
                    if (onFrame) onFrame(*frame);
                } else {
                    pending = true; // every buffer is still out: try again an interval on
                }
            } else {
                pending = due;
                if (changed && !force && !phase.seen) phase.changeSeen(t, slot, interval);
            }
            // What came in while the grab waited for its reply is already off the socket.
            pending = grabber->changedInQueuedEvents() || pending;
        } catch (const AgentError& e) {
            failure = e.what();
            if (failure.starts_with("capture: ")) failure.erase(0, 9);
        } catch (const std::exception& e) {
            failure = e.what(); // out of memory and the like: this stream is done, a restart may do better
        }
        if (!failure.empty()) {
            lk.lock();
            if (stopping) return; // stopped on purpose; the failure is a consequence
            lk.unlock();
            print("• screen capture STOPPED by the system: " + failure);
            if (onStopped) onStopped(failure);
            return;
        }
        const Clock::time_point now = Clock::now();
        if (pending)
            waitUntil(slot, false); // a change is waiting: more DAMAGE changes nothing
        else
            waitUntil(std::min(now + interval, lastDelivered + heartbeat), true);
        lk.lock();
    }
}

X11ScreenCapturer::X11ScreenCapturer(FrameCallback onFrame) : X11ScreenCapturer(std::move(onFrame), Options{}) {}

X11ScreenCapturer::X11ScreenCapturer(FrameCallback onFrame, Options options)
    : onFrame_(std::move(onFrame)), displayName_(std::move(options.displayName)),
      audio_(std::move(options.audio), options.clock), fps_(std::make_shared<std::atomic<int>>(60)) {}

X11ScreenCapturer::~X11ScreenCapturer() {
    const std::lock_guard guard(lifecycle_);
    stopUnderLock();
}

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
    if (onAudio) audio_.start(std::move(onAudio));
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
    audio_.stop();
}

std::string X11ScreenCapturer::name(int index) const {
    const std::lock_guard state(stateLock_);
    return displayName(displays_, index);
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
    fps_->store(std::clamp(fps, 1, maxCaptureFPS), std::memory_order_relaxed);
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
    loop->poke();
}

void X11ScreenCapturer::requestFrame() { requestFrames(1); }

void X11ScreenCapturer::requestFrames(int count) {
    if (count <= 0) return;
    std::shared_ptr<Loop> loop;
    {
        const std::lock_guard state(stateLock_);
        loop = loop_;
    }
    if (!loop) return;
    {
        const std::lock_guard guard(loop->lock);
        loop->forced = true;
        loop->kept = std::max(loop->kept, count - 1);
    }
    loop->poke();
}

std::optional<Instant> X11ScreenCapturer::audioRefusedAt() {
    const std::lock_guard guard(lifecycle_);
    return audio_.refusedAt();
}

} // namespace dovrel::agent
