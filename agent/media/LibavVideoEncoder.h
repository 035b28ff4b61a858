#pragma once

#include <memory>
#include <string>
#include <thread>

#include "agent/media/LibavHandles.h"
#include "agent/media/VideoEncoder.h"

namespace dovrel::agent {

// VideoEncoder over libavcodec. Software: libx264 / libx265, preset ultrafast, tune zerolatency (no
// lookahead, no B-frames, sliced or wavefront threads so a picture comes out of the call that took it),
// the rate held close to the budget, forced keyframes as real IDRs (x265: forced-idr=1, open-gop=0);
// when asked to repair losses, periodic intra refresh in waves instead of periodic IDRs. Hardware:
// h264_vaapi / hevc_vaapi when the machine opens them, with one picture in flight, an IDR every
// maxKeyFrameInterval pictures. Parameter sets travel in the stream in front of every IDR and every
// refresh wave; the encoder takes them from there. Input is
// converted to 4:2:0 on the encoder's thread ("dovrel.encoder"), which also runs the output callback.
class LibavVideoEncoder final : public VideoEncoder {
public:
    enum class Hardware { whenPresent, never };

    LibavVideoEncoder(VideoEncoderConfig config, OutputCallback onEncoded, Hardware hardware = Hardware::whenPresent);
    // Stops the output thread after the picture in progress; a waiting frame is dropped. Safe from
    // any thread, the output callback's included.
    ~LibavVideoEncoder() override;

    void start() override;
    void encode(const CapturedFrame& frame, uint64_t ptsUs, bool forceKeyframe) override;
    // libx264 only: its rate control takes a new rate between two pictures. libx265 and VA-API take none
    // through libavcodec (the reasons are in LibavVideoEncoder.cpp).
    bool retarget(int64_t bitRate, int frameRate) override;
    bool retargetsInPlace() const override;
    const VideoEncoderConfig& config() const override { return config_; }
    std::string backend() const override;
    uint64_t framesSkipped() const override;
    int refreshPeriod() const override;

    // Opens encoder `name` (e.g. "libx264") for `config`, on `hwDevice` (a VAAPI device) when given.
    // nullptr with `error` set when it cannot be opened.
    static libav::CodecContextPtr open(const std::string& name, const VideoEncoderConfig& config, AVBufferRef* hwDevice,
                                       std::string& error);

private:
    struct Worker;
    VideoEncoderConfig config_;
    OutputCallback onEncoded_;
    Hardware hardware_;
    std::shared_ptr<Worker> worker_; // set once by start(), before capture threads see the encoder
    std::thread thread_;
};

} // namespace dovrel::agent
