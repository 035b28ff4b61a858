#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "agent/media/ScreenCapturer.h"

namespace dovrel::agent {

// One video stream from PipeWire, received on a thread of its own ("dovrel.capture"): a node of the
// user's PipeWire daemon (a monitor GNOME records), negotiated as 32-bit BGR, in shared memory or, where
// the producer offers it, as linear DMA-BUFs (the CPU reads those as they are; a buffer that cannot be
// mapped makes the stream fall back to shared memory). A connection handed buffers without their memory
// is made again.
//
// The producer sends a picture only when the screen changed, and is asked for no more than the capture
// rate. PipeWire's real-time data thread only hands the newest buffer over, in the graph's cycle that
// brought it, and gives every other back there; this stream's thread copies it out at once and gives
// it back, so the stream never keeps more than two of the producer's buffers, however late its thread.
// A picture is stamped with the time the producer took it (from the buffer's header, where it gives
// one), and is delivered at most once a frame interval: one that comes sooner waits for its slot,
// replaced by any newer one. A still screen gets its last picture again every second, so the capture's
// watchdog sees it alive; every picture, and that heartbeat while the stream runs, stamps Diag's
// lastStreamAt.
class PipeWireStream {
public:
    struct Size {
        int width = 0;
        int height = 0;
    };

    // Connects to `node` on the daemon of $XDG_RUNTIME_DIR (or $PIPEWIRE_REMOTE). `fps` is the capture
    // rate, read at every picture; `onStopped` is told once when the stream or the daemon goes away.
    PipeWireStream(uint32_t node, ScreenCapturer::FrameCallback onFrame,
                   std::function<void(const std::string& why)> onStopped, std::shared_ptr<std::atomic<int>> fps);
    // Disconnects; returns once no callback runs or will run (unless called from one).
    ~PipeWireStream();
    PipeWireStream(const PipeWireStream&) = delete;
    PipeWireStream& operator=(const PipeWireStream&) = delete;

    // Waits until the producer and this stream agreed on a format, and returns the pictures' size.
    // Throws AgentError (capture) when the stream fails or no format comes within `timeout`.
    Size waitForFormat(std::chrono::milliseconds timeout);
    // The pictures come as DMA-BUFs.
    bool usesDmaBuf() const;

    // Delivers the latest picture now (a keyframe wants one).
    void requestFrame();
    // Delivers the latest picture now and again at the capture rate until `count` have gone, newer ones
    // counting: a refresh wave moves on only with pictures, and a still screen sends none.
    void requestFrames(int count);
    // The capture rate changed: the producer is asked for no more pictures than that (on a new
    // connection, which starts with the screen as it is and keeps the last picture), and a waiting
    // picture's slot is worked out anew.
    void retime();

private:
    struct Loop;
    std::shared_ptr<Loop> loop_;
};

} // namespace dovrel::agent
