#include "agent/media/LibavHandles.h"

extern "C" {
#include <libavutil/error.h>
}

namespace dovrel::agent::libav {

std::string errorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

AVPixelFormat pixelFormatOf(PixelFormat f) {
    // X11's 24-bit pixels are B, G, R and an unused byte; telling libswscale the fourth byte carries
    // no alpha lets it take its fastest paths.
    return f == PixelFormat::bgra ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_YUV420P;
}

namespace {
void releaseOwner(void* opaque, uint8_t*) { delete static_cast<std::shared_ptr<const void>*>(opaque); }
} // namespace

FramePtr wrap(const CapturedFrame& frame) {
    FramePtr f(av_frame_alloc());
    if (!f) return nullptr;
    f->format = pixelFormatOf(frame.format);
    f->width = frame.width;
    f->height = frame.height;
    for (int i = 0; i < frame.planeCount(); ++i) {
        f->data[i] = const_cast<uint8_t*>(frame.planes[static_cast<std::size_t>(i)]);
        f->linesize[i] = frame.strides[static_cast<std::size_t>(i)];
    }
    // One buffer reference stands for all planes: what matters is that the frame counts as
    // reference-counted and that its release lets the source reuse the pixels.
    auto* keep = new std::shared_ptr<const void>(frame.owner);
    f->buf[0] = av_buffer_create(f->data[0],
                                 static_cast<std::size_t>(frame.strides[0]) * static_cast<std::size_t>(frame.height),
                                 releaseOwner, keep, AV_BUFFER_FLAG_READONLY);
    if (!f->buf[0]) {
        delete keep;
        return nullptr;
    }
    return f;
}

} // namespace dovrel::agent::libav
