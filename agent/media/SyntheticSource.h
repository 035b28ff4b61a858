#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "agent/media/CapturedFrame.h"

namespace dovrel::agent {

// A moving test pattern in place of screen capture, so the encode and send path runs without a
// display: a vertical luma gradient (row y holds (y + t) mod 256 in frame t) that scrolls one grey
// level per frame, with neutral chroma. Frames are YUV 4:2:0, produced every 16 ms (about 62.5 per
// second) on the thread "dovrel.synth" and handed to the frame callback there. No audio.
class SyntheticSource {
public:
    using FrameCallback = std::function<void(const CapturedFrame&)>;
    static constexpr std::chrono::milliseconds interval{16};

    SyntheticSource(int width, int height, FrameCallback onFrame);
    // Stops the timer and waits for a frame being delivered (unless called from the frame callback).
    ~SyntheticSource();
    SyntheticSource(const SyntheticSource&) = delete;
    SyntheticSource& operator=(const SyntheticSource&) = delete;

    // Starts the timer; the first frame comes at once. A second call does nothing.
    void start();

    int width() const { return width_; }
    int height() const { return height_; }

    // Writes frame number `t` of the pattern into `buffer` (a yuv420p buffer).
    static void paint(FrameBuffer& buffer, uint64_t t);

private:
    struct State;
    const int width_;
    const int height_;
    std::shared_ptr<State> state_; // shared with the timer thread, which may outlive a destroyed source
    std::thread thread_;
};

} // namespace dovrel::agent
