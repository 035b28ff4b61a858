#include "controller/client/video/PictureDecoder.h"

#include <algorithm>
#include <thread>

#include "controller/client/video/LibavLog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

namespace dovrel::controller {

namespace {
std::string avError(int err) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    return text;
}
} // namespace

void PictureDecoder::ContextFree::operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
void PictureDecoder::FrameFree::operator()(AVFrame* f) const { av_frame_free(&f); }
void PictureDecoder::PacketFree::operator()(AVPacket* p) const { av_packet_free(&p); }
void PictureDecoder::ParserFree::operator()(AVCodecParserContext* p) const { av_parser_close(p); }

int PictureDecoder::defaultThreads() {
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency() / 2, 1u, 4u));
}

PictureDecoder::PictureDecoder(VideoCodec codec, int threads) : codec_(codec) {
    routeLibavLog();
    const AVCodecID id = codec == VideoCodec::h264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_HEVC;
    const AVCodec* decoder = avcodec_find_decoder(id);
    if (!decoder) {
        error_ = codec == VideoCodec::h264 ? "no H.264 decoder in libavcodec" : "no HEVC decoder in libavcodec";
        return;
    }
    std::unique_ptr<AVCodecContext, ContextFree> ctx(avcodec_alloc_context3(decoder));
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!ctx || !frame_ || !packet_) {
        error_ = "out of memory";
        return;
    }
    ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
    // After a lost frame the pictures that refer to it are still decoded and shown: the decoder stands
    // in for the missing references and hides damaged areas until a keyframe heals the picture.
    ctx->flags |= AV_CODEC_FLAG_OUTPUT_CORRUPT;
    ctx->error_concealment = FF_EC_GUESS_MVS | FF_EC_DEBLOCK;
    // Beside the check on each keyframe's announced size, the decoder itself refuses larger pictures.
    ctx->max_pixels = static_cast<int64_t>(maxSide) * maxSide;
    ctx->thread_type = FF_THREAD_SLICE;
    ctx->thread_count = std::max(threads, 1);
    AVDictionary* options = nullptr;
    // Error resilience, on by default where it runs at all: without slice threads.
    conceals_ = codec == VideoCodec::h264 && ctx->thread_count == 1;
    if (conceals_) av_dict_set(&options, "enable_er", "1", 0);
    const int opened = avcodec_open2(ctx.get(), decoder, &options);
    av_dict_free(&options);
    if (opened < 0) {
        error_ = "cannot open the decoder: " + avError(opened);
        return;
    }
    ctx_ = std::move(ctx);
    parser_.reset(av_parser_init(id));
    parseCtx_.reset(avcodec_alloc_context3(nullptr));
    // Each call hands the parser one whole access unit.
    if (parser_) parser_->flags |= PARSER_FLAG_COMPLETE_FRAMES;
}

PictureDecoder::~PictureDecoder() = default;

bool PictureDecoder::decode(wex::ByteView annexB, int64_t pts,
                            const std::function<void(const AVFrame&, bool concealed)>& onPicture) {
    if (!ctx_ || annexB.empty()) return false;
    av_packet_unref(packet_.get());
    if (av_new_packet(packet_.get(), static_cast<int>(annexB.size())) < 0) return false;
    std::copy(annexB.begin(), annexB.end(), packet_->data);
    packet_->pts = pts;
    const int sent = avcodec_send_packet(ctx_.get(), packet_.get());
    av_packet_unref(packet_.get());
    bool ok = sent >= 0;
    for (;;) {
        const int got = avcodec_receive_frame(ctx_.get(), frame_.get());
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) break;
        if (got < 0) {
            ok = false;
            break;
        }
        // Errors in this picture. The decoder's own "corrupt" mark says only that decoding began without a
        // keyframe (at a refresh wave's first picture, say), which the caller knows better: its wave
        // repairs the picture.
        const bool concealed = frame_->decode_error_flags != 0;
        onPicture(*frame_, concealed);
        av_frame_unref(frame_.get());
    }
    return ok;
}

std::optional<std::pair<int, int>> PictureDecoder::announcedSize(wex::ByteView annexB) {
    if (!parser_ || !parseCtx_ || annexB.empty()) return std::nullopt;
    uint8_t* out = nullptr;
    int outSize = 0;
    parser_->width = parser_->height = parser_->coded_width = parser_->coded_height = 0;
    av_parser_parse2(parser_.get(), parseCtx_.get(), &out, &outSize, annexB.data(), static_cast<int>(annexB.size()),
                     AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    const int w = std::max(parser_->coded_width, parser_->width), h = std::max(parser_->coded_height, parser_->height);
    if (w <= 0 || h <= 0) return std::nullopt;
    return std::pair(w, h);
}

void PictureDecoder::flush() {
    if (ctx_) avcodec_flush_buffers(ctx_.get());
}

} // namespace dovrel::controller
