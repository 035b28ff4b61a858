#include "controller/client/PictureConverter.h"

#include <algorithm>
#include <atomic>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace dovrel::controller {

void PictureConverter::SwsFree::operator()(SwsContext* s) const { sws_freeContext(s); }

PictureConverter::PictureConverter(int threads) : threads_(std::max(threads, 1)) {}
PictureConverter::~PictureConverter() = default;

std::shared_ptr<PixelBuffer> PictureConverter::buffer(int width, int height) {
    for (auto& b : pool_) {
        if (b.use_count() != 1 || b->width() != width || b->height() != height) continue;
        // The last reader let go of it; see its reads before writing over them.
        std::atomic_thread_fence(std::memory_order_acquire);
        return b;
    }
    auto fresh = std::make_shared<PixelBuffer>(width, height);
    if (!fresh->ok()) return nullptr;
    // Keep the newest few; older buffers go once the screen lets go of them.
    if (pool_.size() == poolSize) pool_.erase(pool_.begin());
    pool_.push_back(fresh);
    return fresh;
}

std::optional<VideoPicture> PictureConverter::convert(const AVFrame& frame) {
    if (frame.width <= 0 || frame.height <= 0) return std::nullopt;
    const bool fullRange = frame.color_range == AVCOL_RANGE_JPEG || frame.format == AV_PIX_FMT_YUVJ420P ||
                           frame.format == AV_PIX_FMT_YUVJ422P || frame.format == AV_PIX_FMT_YUVJ444P;
    int matrix = SWS_CS_DEFAULT;
    if (frame.colorspace == AVCOL_SPC_BT709) matrix = SWS_CS_ITU709;
    const Key key{frame.format, frame.width, frame.height, fullRange ? 1 : 0, matrix};
    if (!sws_ || !(key == key_)) {
        sws_.reset(sws_alloc_context());
        if (!sws_) return std::nullopt;
        SwsContext* s = sws_.get();
        av_opt_set_int(s, "srcw", frame.width, 0);
        av_opt_set_int(s, "srch", frame.height, 0);
        av_opt_set_int(s, "src_format", frame.format, 0);
        av_opt_set_int(s, "dstw", frame.width, 0);
        av_opt_set_int(s, "dsth", frame.height, 0);
        av_opt_set_int(s, "dst_format", AV_PIX_FMT_BGRA, 0);
        av_opt_set_int(s, "src_range", key.range, 0);
        av_opt_set_int(s, "dst_range", 1, 0);
        av_opt_set_int(s, "sws_flags", SWS_BILINEAR, 0); // same size: picks the fast unscaled converters
        av_opt_set_int(s, "threads", threads_, 0);
        if (sws_init_context(s, nullptr, nullptr) < 0) {
            sws_.reset();
            return std::nullopt;
        }
        const int* coefficients = sws_getCoefficients(matrix);
        sws_setColorspaceDetails(s, coefficients, key.range, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16,
                                 1 << 16);
        key_ = key;
    }

    std::shared_ptr<PixelBuffer> pixels = buffer(frame.width, frame.height);
    if (!pixels) return std::nullopt;

    // The destination frame points into our buffer; its reference keeps the buffer alive meanwhile.
    AVFrame* dst = av_frame_alloc();
    if (!dst) return std::nullopt;
    const std::size_t bytes = static_cast<std::size_t>(pixels->stride()) * static_cast<std::size_t>(frame.height);
    auto* holder = new std::shared_ptr<PixelBuffer>(pixels);
    dst->buf[0] = av_buffer_create(
        pixels->data(), bytes,
        [](void* opaque, uint8_t*) { delete static_cast<std::shared_ptr<PixelBuffer>*>(opaque); }, holder, 0);
    if (!dst->buf[0]) {
        delete holder;
        av_frame_free(&dst);
        return std::nullopt;
    }
    dst->data[0] = pixels->data();
    dst->linesize[0] = pixels->stride();
    dst->format = AV_PIX_FMT_BGRA;
    dst->width = frame.width;
    dst->height = frame.height;
    const int scaled = sws_scale_frame(sws_.get(), dst, &frame);
    av_frame_free(&dst);
    if (scaled < 0) return std::nullopt;

    VideoPicture picture;
    picture.pixels = std::move(pixels);
    picture.width = frame.width;
    picture.height = frame.height;
    return picture;
}

} // namespace dovrel::controller
