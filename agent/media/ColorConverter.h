#pragma once

#include "agent/media/CapturedFrame.h"
#include "agent/media/LibavHandles.h"

namespace dovrel::agent {

// Turns captured frames into the encoder's input: any source format and size to a destination format
// and size (BT.601 video range). The screen's BGRA at its own size goes through libyuv's SIMD rows,
// which on one thread beat libswscale on four; anything else (scaling, other formats) through
// libswscale's frame API on several threads (the older sws_scale call would run on one), whose scaler
// is kept between frames and rebuilt only when a size or format changes. One thread at a time.
class ColorConverter {
public:
    // Threads for one conversion; 4 is the measured sweet spot for 1080p on an 8-core machine.
    static int defaultThreads();

    explicit ColorConverter(int threads = defaultThreads());

    // Converts `src` into `dst`, whose format, width and height say what is wanted. `dst` gets buffers
    // if it has none, and fresh ones if an encoder still holds its current ones. False when libswscale
    // refuses (out of memory, a size of 0).
    bool convert(const CapturedFrame& src, AVFrame& dst);

private:
    bool convertBgra(const CapturedFrame& src, AVFrame& dst);

    struct Key {
        AVPixelFormat srcFormat;
        int srcWidth, srcHeight;
        AVPixelFormat dstFormat;
        int dstWidth, dstHeight;
        bool operator==(const Key&) const = default;
    };
    int threads_;
    Key key_{};
    libav::SwsPtr sws_;
};

} // namespace dovrel::agent
