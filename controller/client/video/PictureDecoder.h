#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "protocol/Bytes.h"
#include "protocol/NalUnits.h"

struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;

namespace dovrel::controller {

using wex::VideoCodec;

// One libavcodec H.264 or HEVC decoder set up for a live stream: pictures come out of the call that
// took them (low delay, slice threads, no frame threads, which would hold pictures back), and pictures
// whose references were lost still come out, concealed, instead of holding the picture until the next
// keyframe. Takes whole access units in Annex B form. Pictures larger than any display it serves are
// refused before the decoder allocates anything for them. One thread at a time.
//
// What libavcodec conceals (FFmpeg 5): a lost H.264 picture is stood in for by a copy of the one
// before it. Lost slices of a picture are concealed only by its error resilience, which fills them
// from the previous picture (moved along the guessed motion; from the neighbouring blocks in a keyframe
// with no picture before it), and which runs only in a decoder without slice threads: with them it is
// off, and the lost slices keep whatever the picture's memory held (green where it was never used).
// The HEVC decoder conceals nothing: lost slices stay as they were, and a lost reference picture is
// stood in for by a grey one. A decoder that began without a keyframe paints what it has not decoded
// grey. The decoder's marks say only that something was concealed (decode_error_flags) or that decoding
// began without a keyframe (AV_FRAME_FLAG_CORRUPT), never where.
class PictureDecoder {
public:
    // The largest picture side decoded: an 8K display, and more, with room to spare.
    static constexpr int maxSide = 8192;
    PictureDecoder(VideoCodec codec, int threads);
    ~PictureDecoder();
    PictureDecoder(const PictureDecoder&) = delete;
    PictureDecoder& operator=(const PictureDecoder&) = delete;

    bool ok() const { return ctx_ != nullptr; }
    const std::string& error() const { return error_; }
    VideoCodec codec() const { return codec_; }
    // Lost slices of a picture are filled from the picture before (an H.264 decoder of one thread).
    bool concealsLostSlices() const { return conceals_; }

    // Decodes one access unit; `onPicture` sees each picture that comes out, valid during the call, and
    // whether the decoder had to conceal errors in it (missing references, damaged data). False when the
    // decoder refused the data.
    bool decode(wex::ByteView annexB, int64_t pts,
                const std::function<void(const AVFrame&, bool concealed)>& onPicture);
    // Forgets every reference picture: the next picture must be a keyframe.
    void flush();
    // The coded size the parameter sets and slices of `annexB` announce, read without decoding (and so
    // without allocating the picture); none when they announce none.
    std::optional<std::pair<int, int>> announcedSize(wex::ByteView annexB);
    // Whether a picture of that size is decoded.
    static bool fits(std::pair<int, int> size) {
        return size.first > 0 && size.second > 0 && size.first <= maxSide && size.second <= maxSide;
    }

    // Threads for one decoder: slices of a 1080p picture split well over up to 4 cores. One thread
    // conceals lost slices (H.264).
    static int defaultThreads();

private:
    struct ContextFree {
        void operator()(AVCodecContext* c) const;
    };
    struct FrameFree {
        void operator()(AVFrame* f) const;
    };
    struct PacketFree {
        void operator()(AVPacket* p) const;
    };
    struct ParserFree {
        void operator()(AVCodecParserContext* p) const;
    };

    VideoCodec codec_;
    bool conceals_ = false;
    std::string error_;
    std::unique_ptr<AVCodecContext, ContextFree> ctx_;
    std::unique_ptr<AVFrame, FrameFree> frame_;
    std::unique_ptr<AVPacket, PacketFree> packet_;
    std::unique_ptr<AVCodecParserContext, ParserFree> parser_;
    std::unique_ptr<AVCodecContext, ContextFree> parseCtx_; // what the parser writes to, apart from ctx_
};

} // namespace dovrel::controller
