#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "runtime/Scheduler.h"

namespace dovrel::agent {

// How a frame's pixels are laid out. bgra: one plane of 4 bytes per pixel, blue first, the fourth byte
// unused (X11's 24-bit ZPixmap). yuv420p: full-size luma plane and two quarter-size chroma planes,
// BT.601 video range, the encoders' native input.
enum class PixelFormat { bgra, yuv420p };

// One picture on its way from a source to the encoder. A small value: copying it copies plane pointers
// and one reference, never pixels. The pixels stay valid, and unchanged, for as long as any copy of the
// frame lives (`owner` keeps them); a source reuses a buffer only once every frame that points into it
// is gone, so a consumer that must hold a frame just keeps its copy, and one that is slow makes the
// source skip pictures rather than queue them.
struct CapturedFrame {
    PixelFormat format = PixelFormat::bgra;
    int width = 0;
    int height = 0;
    std::array<const uint8_t*, 3> planes{};
    std::array<int, 3> strides{}; // bytes per row of each plane
    Instant capturedAt{};
    std::shared_ptr<const void> owner;

    bool empty() const { return planes[0] == nullptr || width <= 0 || height <= 0; }
    int planeCount() const { return format == PixelFormat::bgra ? 1 : 3; }
    int planeHeight(int plane) const { return plane == 0 ? height : (height + 1) / 2; }
};

// Pixel memory that a source owns and hands out through CapturedFrame: planes 64-byte aligned, rows
// padded to 64 bytes, as the SIMD converters and encoders like them.
class FrameBuffer {
public:
    FrameBuffer(PixelFormat format, int width, int height);
    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;

    PixelFormat format() const { return format_; }
    int width() const { return width_; }
    int height() const { return height_; }
    uint8_t* plane(int i) { return planes_[static_cast<std::size_t>(i)]; }
    int stride(int i) const { return strides_[static_cast<std::size_t>(i)]; }

    // A frame that points into this buffer and keeps it alive through `self`.
    static CapturedFrame frame(const std::shared_ptr<FrameBuffer>& self, Instant at);

private:
    struct Free {
        void operator()(uint8_t* p) const;
    };
    PixelFormat format_;
    int width_;
    int height_;
    std::array<uint8_t*, 3> planes_{};
    std::array<int, 3> strides_{};
    std::unique_ptr<uint8_t, Free> memory_;
};

} // namespace dovrel::agent
