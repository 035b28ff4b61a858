#pragma once

#include <algorithm>
#include <vector>

#include <libavcodec/avcodec.h>

#include "agent/media/LibavHandles.h"
#include "agent/media/VideoEncoder.h"
#include "protocol/Bytes.h"

namespace dovrel::test {

// The Annex B stream a controller would hand its decoder: parameter sets (when given), then units.
inline wex::Bytes annexB(const std::vector<wex::Bytes>& sets, const std::vector<wex::Bytes>& units) {
    wex::Bytes out;
    for (const auto* list : {&sets, &units})
        for (const auto& u : *list) {
            out.insert(out.end(), {0, 0, 0, 1});
            out.insert(out.end(), u.begin(), u.end());
        }
    return out;
}

inline wex::Bytes annexB(const agent::EncodedPicture& p) {
    return annexB(p.parameterSets.value_or(std::vector<wex::Bytes>{}), p.units);
}

// A libavcodec decoder, as the controller runs one, for checking what the encoder made.
class TestDecoder {
public:
    explicit TestDecoder(bool h264) {
        const AVCodec* codec = avcodec_find_decoder(h264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_HEVC);
        ctx_.reset(avcodec_alloc_context3(codec));
        ctx_->thread_count = 1;
        ok_ = avcodec_open2(ctx_.get(), codec, nullptr) == 0;
    }
    bool ok() const { return ok_; }

    // Decoded pictures, a reference each; an empty list when the decoder needs more or refuses.
    std::vector<agent::libav::FramePtr> decode(const wex::Bytes& accessUnit) {
        std::vector<agent::libav::FramePtr> out;
        agent::libav::PacketPtr pkt(av_packet_alloc());
        if (av_new_packet(pkt.get(), static_cast<int>(accessUnit.size())) < 0) return out;
        std::copy(accessUnit.begin(), accessUnit.end(), pkt->data);
        if (avcodec_send_packet(ctx_.get(), pkt.get()) < 0) return out;
        for (;;) {
            agent::libav::FramePtr f(av_frame_alloc());
            if (avcodec_receive_frame(ctx_.get(), f.get()) < 0) break;
            out.push_back(std::move(f));
        }
        return out;
    }

private:
    agent::libav::CodecContextPtr ctx_;
    bool ok_ = false;
};

} // namespace dovrel::test
