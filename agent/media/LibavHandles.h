#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "agent/media/CapturedFrame.h"

namespace dovrel::agent::libav {

// Owners for the FFmpeg objects the media code holds; each frees with the library's own call.
struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct BufferUnref {
    void operator()(AVBufferRef* b) const { av_buffer_unref(&b); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;
using BufferPtr = std::unique_ptr<AVBufferRef, BufferUnref>;

// av_err2str as a string.
std::string errorText(int err);

AVPixelFormat pixelFormatOf(PixelFormat f);

// An AVFrame that points at the captured frame's pixels without copying them. It is reference
// counted (so libswscale and the encoders take references instead of copies) and keeps the captured
// frame's owner alive until the last reference goes. nullptr when memory runs out.
FramePtr wrap(const CapturedFrame& frame);

} // namespace dovrel::agent::libav
