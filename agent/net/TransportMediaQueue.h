#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "agent/core/SendTarget.h"
#include "protocol/Bytes.h"
#include "runtime/SerialQueue.h"

namespace dovrel::agent {

// Running totals of every relay media queue of one transport; any thread reads them.
struct MediaCounters {
    std::atomic<uint64_t> videoSent{0};
    std::atomic<uint64_t> audioSent{0};
    std::atomic<uint64_t> videoDropped{0};
    std::atomic<uint64_t> audioDropped{0};
};

// How much a relay media queue holds before it drops, and how far it fills the link's socket.
struct MediaQueueLimits {
    std::size_t videoBytes = 512 * 1024;    // about 1.7 s at the relay's 2.5 Mbit/s: a keyframe and more
    std::size_t audioBytes = 64 * 1024;     // about a third of a second of 48 kHz stereo PCM
    std::size_t socketBacklog = 128 * 1024; // what the TLS socket may hold on top
};

// Sealed video and audio frames on their way to the relay link of one relay session. Capture and encoder
// threads push; the owner thread ("dovrel.net"), which alone may touch the TLS socket, writes them out
// in order. The queue is bounded: on a link slower than the encoder it drops rather than let latency
// grow. Once video had to be dropped, video keeps being dropped until the queue has drained to half its
// bound, and the owner is asked once for a keyframe, since the pictures that follow a lost one cannot be
// decoded anyway. Audio that does not fit is dropped on its own.
//
// The socket's own buffer is bounded too: frames leave the queue only while the link has less than
// `socketBacklog` bytes waiting, and the owner calls drain() again when the link has written some.
class TransportMediaQueue final : public MediaRoute, public std::enable_shared_from_this<TransportMediaQueue> {
public:
    using Limits = MediaQueueLimits;
    // Used on the owner thread only, by drain().
    struct Sink {
        std::function<bool(wex::ByteView)> write; // false: the link is gone
        std::function<void()> flush;
        std::function<std::size_t()> backlog; // bytes the link holds that are not yet sent
    };

    // `onVideoDropped` runs on the owner thread, once per episode of dropped video.
    TransportMediaQueue(const SerialQueue& owner, Sink sink, std::function<void()> onVideoDropped,
                        std::shared_ptr<MediaCounters> counters, Limits limits = {});
    TransportMediaQueue(const TransportMediaQueue&) = delete;
    TransportMediaQueue& operator=(const TransportMediaQueue&) = delete;

    // Any thread. Takes one whole sealed frame; false when it was dropped (full, or the queue is closed).
    bool push(wex::Bytes frame, bool isVideo);
    bool sendFrame(wex::Bytes frame, bool isVideo) override { return push(std::move(frame), isVideo); }

    // Owner thread. Writes queued frames while the link has room.
    void drain();
    // Any thread. A drain soon on the owner thread, after what runs there now (the link's written-bytes
    // signal asks this way rather than draining inside the signal).
    void requestDrain();
    // Owner thread. Discards what is queued; every later push is refused. The owner closes the queue
    // before its own thread stops, so no push can reach a queue thread that is gone.
    void close();

    std::size_t queuedBytes() const;
    std::size_t backlog() const override { return queuedBytes(); }
    // Any thread. Frames can still reach the client: the queue is open and its link was not found gone.
    bool linkUp() const override;

private:
    void postDrainUnderLock();

    struct Item {
        wex::Bytes frame;
        bool isVideo;
    };

    const SerialQueue& owner_;
    Sink sink_; // owner thread only
    std::function<void()> onVideoDropped_;
    std::shared_ptr<MediaCounters> counters_;
    const Limits limits_;

    mutable std::mutex lock_;
    std::deque<Item> items_;
    std::size_t videoBytes_ = 0;
    std::size_t audioBytes_ = 0;
    bool closed_ = false;
    bool drainPosted_ = false;
    bool droppingVideo_ = false;
    bool linkGone_ = false;
};

} // namespace dovrel::agent
