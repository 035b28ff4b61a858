#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "runtime/Scheduler.h"

namespace dovrel::controller {

// Pixel memory for one picture in RGB: 32 bits per pixel, bytes blue, green, red, 0xFF (what
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

// How a picture's YUV values map to RGB.
enum class ColourMatrix { bt601, bt709 };

// The three planes of a decoded 8-bit 4:2:0 picture: luma at full size, the two chroma planes at half
// width and half height (rounded up). Every row holds at least its width rounded up to 4 bytes, so a
// plane can be read four bytes at a time. `owner` keeps the memory alive; it never changes.
struct YuvPlanes {
    std::array<const uint8_t*, 3> data{};
    std::array<int, 3> stride{};
    std::shared_ptr<const void> owner;
};

// One decoded picture on its way to the screen, still in YUV: the screen converts it to RGB as it draws
// (in the scene graph's shader, or on the processor where there is no GPU). A small value: copies share
// the planes.
struct VideoPicture {
    YuvPlanes planes;
    int width = 0;
    int height = 0;
    ColourMatrix matrix = ColourMatrix::bt601;
    bool fullRange = false; // else video range (16-235)
    uint32_t frameId = 0;
    uint32_t ptsUs = 0;   // the agent's time stamp, as it came in the video header
    Instant receivedAt{}; // when its last piece arrived
    Instant decodedAt{};  // when it was ready to show
    uint32_t decodeMicros = 0;
    uint32_t convertMicros = 0; // bringing a decoder's other layouts to 8-bit 4:2:0; 0 for the usual one
    // Decoded from an unbroken chain of pictures since a keyframe, or since a complete refresh wave;
    // false while losses are concealed.
    bool whole = true;

    bool empty() const { return !planes.owner || width <= 0 || height <= 0; }
    uint8_t sample(int plane, int x, int y) const {
        return planes.data[static_cast<std::size_t>(plane)]
                          [static_cast<std::ptrdiff_t>(y) * planes.stride[static_cast<std::size_t>(plane)] + x];
    }
    // 0xRRGGBB at (x, y), converted as the screen does; the caller keeps inside the picture.
    uint32_t rgbAt(int x, int y) const;
};

// Whether `a` and `b` would show the very same thing: the same size, matrix and range, and the same bytes
// in every plane (the padding at the end of a row aside). A still screen comes again as such a picture.
bool showsTheSame(const VideoPicture& a, const VideoPicture& b);

// The 4 x 4 matrix (row-major) that takes (Y, U, V, 1), each 0..1, to (R, G, B, 1) for `matrix` and range.
std::array<float, 16> yuvToRgbMatrix(ColourMatrix matrix, bool fullRange);

} // namespace dovrel::controller
