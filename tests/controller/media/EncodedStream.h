#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "../../agent/media/MediaTestSupport.h"
#include "agent/media/CapturedFrame.h"
#include "agent/media/LibavVideoEncoder.h"
#include "protocol/VideoPayload.h"

namespace dovrel::controller::test {

// Solid blocks of colour (0xRRGGBB) on a grid of `columns` by `rows`, filling the frame.
inline std::shared_ptr<agent::FrameBuffer> colourBlocks(int w, int h, const std::vector<uint32_t>& colours, int columns,
                                                        int rows) {
    auto b = std::make_shared<agent::FrameBuffer>(agent::PixelFormat::bgra, w, h);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(b->plane(0) + static_cast<std::ptrdiff_t>(y) * b->stride(0));
        for (int x = 0; x < w; ++x) {
            const int cell = (y * rows / h) * columns + x * columns / w;
            row[x] = colours[static_cast<std::size_t>(cell) % colours.size()];
        }
    }
    return b;
}

// Pictures made the agent's way: its libavcodec encoder (software; refresh waves of `refreshPictures`
// when above 0; `threads` encoder threads, 0 for the agent's choice, each cutting its own H.264 slice), its payload
// layout (parameter sets in front of every keyframe and every wave's first picture, both flagged as keyframes), one
// picture at a time.
class EncodedStream {
public:
    EncodedStream(int w, int h, bool h264, int refreshPictures = 0, int threads = 0) : w_(w), h_(h), h264_(h264) {
        agent::VideoEncoderConfig config{w, h, h264, agent::VideoBudget::lan()};
        config.refreshPictures = refreshPictures;
        config.threads = threads;
        enc_ = std::make_unique<agent::LibavVideoEncoder>(config, sink_.callback(),
                                                          agent::LibavVideoEncoder::Hardware::never);
        enc_->start();
    }

    struct Payload {
        wex::VideoNALHeader header;
        std::vector<wex::Bytes> nals;
        bool keyframe = false;
        bool refresh = false;
        std::vector<wex::Bytes> parameterSets;
    };

    // Encodes the frame and gives the payload the agent would send for it.
    Payload next(const std::shared_ptr<agent::FrameBuffer>& frame, bool forceKeyframe = false) {
        const std::size_t before = sink_.pictures().size();
        enc_->encode(agent::FrameBuffer::frame(frame, std::chrono::steady_clock::now()), pts_, forceKeyframe);
        EXPECT_TRUE(sink_.waitFor(before + 1));
        const agent::EncodedPicture pic = sink_.pictures().at(before);
        Payload p;
        p.keyframe = pic.keyframe;
        p.refresh = pic.refresh;
        if (pic.parameterSets) sets_ = *pic.parameterSets;
        if (pic.keyframe || pic.refresh) {
            p.nals = sets_;
            p.parameterSets = sets_;
            p.header.nalFlags = wex::NALFlags{wex::NALFlag::keyframe, wex::NALFlag::config};
        }
        p.nals.insert(p.nals.end(), pic.units.begin(), pic.units.end());
        if (h264_) p.header.nalFlags.insert(wex::NALFlag::codecH264);
        p.header.frameId = ++frameId_;
        p.header.ptsUs = static_cast<uint32_t>(pts_);
        p.header.width = static_cast<uint16_t>(w_);
        p.header.height = static_cast<uint16_t>(h_);
        pts_ += 16667;
        return p;
    }

    void setNextFrameId(uint32_t id) { frameId_ = id - 1; }

private:
    int w_, h_;
    bool h264_;
    dovrel::test::PictureSink sink_;
    std::unique_ptr<agent::LibavVideoEncoder> enc_;
    std::vector<wex::Bytes> sets_;
    uint32_t frameId_ = 0;
    uint64_t pts_ = 1000;
};

} // namespace dovrel::controller::test
