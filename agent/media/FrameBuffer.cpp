#include <cstdlib>
#include <new>

#include "agent/media/CapturedFrame.h"

namespace dovrel::agent {

namespace {
constexpr std::size_t alignment = 64;
int padded(int bytes) {
    return (bytes + static_cast<int>(alignment) - 1) / static_cast<int>(alignment) * static_cast<int>(alignment);
}
} // namespace

void FrameBuffer::Free::operator()(uint8_t* p) const { std::free(p); }

FrameBuffer::FrameBuffer(PixelFormat format, int width, int height) : format_(format), width_(width), height_(height) {
    if (width <= 0 || height <= 0) throw std::bad_alloc();
    std::array<std::size_t, 3> sizes{};
    if (format == PixelFormat::bgra) {
        strides_ = {padded(width * 4), 0, 0};
        sizes[0] = static_cast<std::size_t>(strides_[0]) * static_cast<std::size_t>(height);
    } else {
        const int cw = (width + 1) / 2, ch = (height + 1) / 2;
        strides_ = {padded(width), padded(cw), padded(cw)};
        sizes = {static_cast<std::size_t>(strides_[0]) * static_cast<std::size_t>(height),
                 static_cast<std::size_t>(strides_[1]) * static_cast<std::size_t>(ch),
                 static_cast<std::size_t>(strides_[2]) * static_cast<std::size_t>(ch)};
    }
    const std::size_t total = sizes[0] + sizes[1] + sizes[2];
    memory_.reset(static_cast<uint8_t*>(std::aligned_alloc(alignment, total)));
    if (!memory_) throw std::bad_alloc();
    uint8_t* at = memory_.get();
    for (std::size_t i = 0; i < 3; ++i) {
        planes_[i] = sizes[i] ? at : nullptr;
        at += sizes[i];
    }
}

CapturedFrame FrameBuffer::frame(const std::shared_ptr<FrameBuffer>& self, Instant at) {
    CapturedFrame f;
    f.format = self->format_;
    f.width = self->width_;
    f.height = self->height_;
    for (std::size_t i = 0; i < 3; ++i) {
        f.planes[i] = self->planes_[i];
        f.strides[i] = self->strides_[i];
    }
    f.capturedAt = at;
    f.owner = self;
    return f;
}

} // namespace dovrel::agent
