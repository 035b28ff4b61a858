#include "agent/media/ColorConverter.h"

#include <algorithm>
#include <thread>

#include <libyuv/convert_from_argb.h>

extern "C" {
#include <libavutil/opt.h>
}

namespace dovrel::agent {

int ColorConverter::defaultThreads() {
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency() / 2, 1u, 4u));
}

ColorConverter::ColorConverter(int threads) : threads_(std::max(threads, 1)) {}

bool ColorConverter::convert(const CapturedFrame& src, AVFrame& dst) {
    if (src.empty() || dst.width <= 0 || dst.height <= 0) return false;
    if (src.format == PixelFormat::bgra && src.width == dst.width && src.height == dst.height &&
        (dst.format == AV_PIX_FMT_YUV420P || dst.format == AV_PIX_FMT_NV12))
        return convertBgra(src, dst);
    const Key key{libav::pixelFormatOf(src.format),       src.width, src.height,
                  static_cast<AVPixelFormat>(dst.format), dst.width, dst.height};
    if (!sws_ || !(key == key_)) {
        sws_.reset(sws_alloc_context());
        if (!sws_) return false;
        SwsContext* s = sws_.get();
        av_opt_set_int(s, "srcw", key.srcWidth, 0);
        av_opt_set_int(s, "srch", key.srcHeight, 0);
        av_opt_set_int(s, "src_format", key.srcFormat, 0);
        av_opt_set_int(s, "dstw", key.dstWidth, 0);
        av_opt_set_int(s, "dsth", key.dstHeight, 0);
        av_opt_set_int(s, "dst_format", key.dstFormat, 0);
        av_opt_set_int(s, "dst_range", 0, 0); // video range, what the decoders assume
        // Same size: a plain format conversion, where the flag only picks the chroma filter.
        av_opt_set_int(s, "sws_flags", SWS_BILINEAR, 0);
        av_opt_set_int(s, "threads", threads_, 0);
        if (sws_init_context(s, nullptr, nullptr) < 0) {
            sws_.reset();
            return false;
        }
        key_ = key;
    }
    // The encoder may still hold a reference to the last picture; never write into it.
    if (dst.buf[0] ? av_frame_make_writable(&dst) < 0 : av_frame_get_buffer(&dst, 0) < 0) return false;
    const libav::FramePtr in = libav::wrap(src);
    if (!in) return false;
    return sws_scale_frame(sws_.get(), &dst, in.get()) >= 0;
}

bool ColorConverter::convertBgra(const CapturedFrame& src, AVFrame& dst) {
    if (dst.buf[0] ? av_frame_make_writable(&dst) < 0 : av_frame_get_buffer(&dst, 0) < 0) return false;
    // libyuv's "ARGB" is X11's BGRA byte order; its 4:2:0 is BT.601 video range, as the encoders expect.
    if (dst.format == AV_PIX_FMT_NV12)
        return libyuv::ARGBToNV12(src.planes[0], src.strides[0], dst.data[0], dst.linesize[0], dst.data[1],
                                  dst.linesize[1], src.width, src.height) == 0;
    return libyuv::ARGBToI420(src.planes[0], src.strides[0], dst.data[0], dst.linesize[0], dst.data[1], dst.linesize[1],
                              dst.data[2], dst.linesize[2], src.width, src.height) == 0;
}

} // namespace dovrel::agent
