#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "runtime/Scheduler.h"

namespace dovrel::controller {

// Pixel memory for one decoded picture: 32 bits per pixel, bytes blue, green, red, 0xFF (what
// QImage::Format_RGB32 reads on a little-endian machine), rows padded to 64 bytes.
class PixelBuffer {
public:
    PixelBuffer(int width, int height)
        : width_(width), height_(height), stride_((width * 4 + 63) / 64 * 64),
          data_(static_cast<uint8_t*>(std::aligned_alloc(64, static_cast<std::size_t>(stride_) *
                                                                 static_cast<std::size_t>(height > 0 ? height : 1)))) {}
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    bool ok() const { return data_ != nullptr; }
    int width() const { return width_; }
    int height() const { return height_; }
    int stride() const { return stride_; }
    uint8_t* data() { return data_.get(); }
    const uint8_t* data() const { return data_.get(); }

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    int width_, height_, stride_;
    std::unique_ptr<uint8_t, Free> data_;
};

// One decoded picture on its way to the screen. A small value: copies share the pixels, which never
// change once the picture is made.
struct VideoPicture {
    std::shared_ptr<const PixelBuffer> pixels;
    int width = 0;
    int height = 0;
    uint32_t frameId = 0;
    uint32_t ptsUs = 0;   // the agent's time stamp, as it came in the video header
    Instant receivedAt{}; // when its last piece arrived
    Instant decodedAt{};  // when it was ready to show
    uint32_t decodeMicros = 0;
    uint32_t convertMicros = 0;
    // Decoded from an unbroken chain of pictures since a keyframe; false while losses are concealed.
    bool whole = true;

    bool empty() const { return !pixels || width <= 0 || height <= 0; }
    // 0xRRGGBB at (x, y); the caller keeps inside the picture.
    uint32_t rgbAt(int x, int y) const {
        const uint8_t* p = pixels->data() + static_cast<std::ptrdiff_t>(y) * pixels->stride() + x * 4;
        return static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
    }
};

} // namespace dovrel::controller
