#include "controller/client/video/PictureConverter.h"

#include <algorithm>
#include <atomic>
#include <chrono>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace dovrel::controller {

namespace {

bool fullRangeOf(const AVFrame& f) {
    return f.color_range == AVCOL_RANGE_JPEG || f.format == AV_PIX_FMT_YUVJ420P || f.format == AV_PIX_FMT_YUVJ422P ||
           f.format == AV_PIX_FMT_YUVJ444P;
}

// A frame that points into `target`'s memory and keeps it alive while it lives.
template <typename T> AVFrame* frameOver(const std::shared_ptr<T>& target, uint8_t* data, std::size_t bytes) {
    AVFrame* f = av_frame_alloc();
    if (!f) return nullptr;
    auto* holder = new std::shared_ptr<T>(target);
    f->buf[0] = av_buffer_create(
        data, bytes, [](void* opaque, uint8_t*) { delete static_cast<std::shared_ptr<T>*>(opaque); }, holder, 0);
    if (!f->buf[0]) {
        delete holder;
        av_frame_free(&f);
    }
    return f;
}

// 8-bit 4:2:0 planes of our own, for pictures the decoder gave in another layout.
struct OwnPlanes {
    std::vector<uint8_t> bytes;
    std::array<int, 3> offset{}, stride{};
    OwnPlanes(int w, int h) {
        const int cw = (w + 1) / 2, ch = (h + 1) / 2;
        stride = {(w + 63) / 64 * 64, (cw + 63) / 64 * 64, (cw + 63) / 64 * 64};
        offset = {0, stride[0] * h, stride[0] * h + stride[1] * ch};
        bytes.resize(static_cast<std::size_t>(offset[2] + stride[2] * ch) + 64);
    }
};

} // namespace

void PictureConverter::SwsFree::operator()(SwsContext* s) const { sws_freeContext(s); }

PictureConverter::PictureConverter(int threads) : threads_(std::max(threads, 1)) {}
PictureConverter::~PictureConverter() = default;

SwsContext* PictureConverter::scaler(Scaler& sc, const Key& key, int dstFormat, bool setColours) {
    if (sc.sws && sc.key == key) return sc.sws.get();
    sc.sws.reset(sws_alloc_context());
    if (!sc.sws) return nullptr;
    SwsContext* s = sc.sws.get();
    av_opt_set_int(s, "srcw", key.width, 0);
    av_opt_set_int(s, "srch", key.height, 0);
    av_opt_set_int(s, "src_format", key.format, 0);
    av_opt_set_int(s, "dstw", key.width, 0);
    av_opt_set_int(s, "dsth", key.height, 0);
    av_opt_set_int(s, "dst_format", dstFormat, 0);
    av_opt_set_int(s, "src_range", key.range, 0);
    av_opt_set_int(s, "dst_range", setColours ? 1 : key.range, 0);
    // Same size: bilinear picks the fast unscaled converters. To RGB, the full-precision path instead:
    // the fast tables are up to 3 levels off, and this picture must look as the GPU's shader draws it.
    av_opt_set_int(s, "sws_flags", setColours ? SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT : SWS_BILINEAR, 0);
    av_opt_set_int(s, "threads", threads_, 0);
    if (sws_init_context(s, nullptr, nullptr) < 0) {
        sc.sws.reset();
        return nullptr;
    }
    if (setColours)
        sws_setColorspaceDetails(s, sws_getCoefficients(key.matrix), key.range, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                 0, 1 << 16, 1 << 16);
    sc.key = key;
    return s;
}

std::optional<VideoPicture> PictureConverter::picture(const AVFrame& frame) {
    if (frame.width <= 0 || frame.height <= 0) return std::nullopt;
    VideoPicture out;
    out.width = frame.width;
    out.height = frame.height;
    out.fullRange = fullRangeOf(frame);
    out.matrix = frame.colorspace == AVCOL_SPC_BT709 ? ColourMatrix::bt709 : ColourMatrix::bt601;

    const int cw = (frame.width + 1) / 2;
    const bool usual = (frame.format == AV_PIX_FMT_YUV420P || frame.format == AV_PIX_FMT_YUVJ420P) &&
                       frame.linesize[0] >= (frame.width + 3) / 4 * 4 && frame.linesize[1] >= (cw + 3) / 4 * 4 &&
                       frame.linesize[2] >= (cw + 3) / 4 * 4;
    if (usual) {
        // A new reference to the decoder's buffer: the decoder never writes into a picture still held.
        std::shared_ptr<AVFrame> ref(av_frame_clone(&frame), [](AVFrame* f) { av_frame_free(&f); });
        if (!ref) return std::nullopt;
        for (std::size_t i = 0; i < 3; ++i) {
            out.planes.data[i] = ref->data[i];
            out.planes.stride[i] = ref->linesize[i];
        }
        out.planes.owner = std::move(ref);
        return out;
    }

    const auto begun = std::chrono::steady_clock::now();
    const Key key{frame.format, frame.width, frame.height, out.fullRange ? 1 : 0, 0};
    SwsContext* s = scaler(toPlanes_, key, AV_PIX_FMT_YUV420P, false);
    if (!s) return std::nullopt;
    auto own = std::make_shared<OwnPlanes>(frame.width, frame.height);
    AVFrame* dst = frameOver(own, own->bytes.data(), own->bytes.size());
    if (!dst) return std::nullopt;
    for (std::size_t i = 0; i < 3; ++i) {
        dst->data[i] = own->bytes.data() + own->offset[i];
        dst->linesize[i] = own->stride[i];
    }
    dst->format = AV_PIX_FMT_YUV420P;
    dst->width = frame.width;
    dst->height = frame.height;
    const int scaled = sws_scale_frame(s, dst, &frame);
    av_frame_free(&dst);
    if (scaled < 0) return std::nullopt;
    for (std::size_t i = 0; i < 3; ++i) {
        out.planes.data[i] = own->bytes.data() + own->offset[i];
        out.planes.stride[i] = own->stride[i];
    }
    out.planes.owner = std::move(own);
    out.convertMicros = static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - begun).count());
    return out;
}

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

std::shared_ptr<const PixelBuffer> PictureConverter::toRgb(const VideoPicture& picture) {
    if (picture.empty()) return nullptr;
    const Key key{picture.fullRange ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P, picture.width, picture.height,
                  picture.fullRange ? 1 : 0, picture.matrix == ColourMatrix::bt709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT};
    SwsContext* s = scaler(toRgb_, key, AV_PIX_FMT_BGRA, true);
    if (!s) return nullptr;
    std::shared_ptr<PixelBuffer> pixels = buffer(picture.width, picture.height);
    if (!pixels) return nullptr;

    AVFrame* src = av_frame_alloc();
    if (!src) return nullptr;
    for (std::size_t i = 0; i < 3; ++i) {
        src->data[i] = const_cast<uint8_t*>(picture.planes.data[i]);
        src->linesize[i] = picture.planes.stride[i];
    }
    src->format = key.format;
    src->width = picture.width;
    src->height = picture.height;
    src->color_range = picture.fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    AVFrame* dst = frameOver(pixels, pixels->data(),
                             static_cast<std::size_t>(pixels->stride()) * static_cast<std::size_t>(picture.height));
    if (!dst) {
        av_frame_free(&src);
        return nullptr;
    }
    dst->data[0] = pixels->data();
    dst->linesize[0] = pixels->stride();
    dst->format = AV_PIX_FMT_BGRA;
    dst->width = picture.width;
    dst->height = picture.height;
    const int scaled = sws_scale_frame(s, dst, src);
    av_frame_free(&dst);
    av_frame_free(&src);
    if (scaled < 0) return nullptr;
    return pixels;
}

} // namespace dovrel::controller
