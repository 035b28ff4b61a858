#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "agent/media/CapturedFrame.h"
#include "agent/media/VideoBudget.h"
#include "protocol/Bytes.h"
#include "protocol/NalUnits.h"

namespace dovrel::agent {

// One encoded picture, ready for the video payload.
struct EncodedPicture {
    std::vector<wex::Bytes> units; // the picture's NAL units, bare (no start codes), parameter sets left out
    bool keyframe = false;         // a decoder can start here (IDR)
    // The first picture of an intra-refresh wave: the wave repairs the whole picture over the following
    // pictures, and a decoder can begin here too (the picture is whole once the wave has passed).
    bool refresh = false;
    // The parameter sets the stream carried with this picture, VPS/SPS/PPS order; only on keyframes and
    // refresh starts, and absent when the stream carried none.
    std::optional<std::vector<wex::Bytes>> parameterSets;
    uint64_t ptsUs = 0;         // as handed to encode()
    Instant capturedAt{};       // of the captured frame it came from
    uint32_t convertMicros = 0; // colour conversion of that frame
    uint32_t encodeMicros = 0;  // time inside the codec
};

struct VideoEncoderConfig {
    int width = 0; // frame size in pixels; an odd size is encoded one pixel smaller
    int height = 0;
    bool h264 = true; // H.264, else HEVC
    VideoBudget budget;
    int threads = 0; // the software encoder's threads; 0: the count measured best for this machine
    // Software encoders: repair lost pieces by themselves, in refresh waves every refreshPictures
    // pictures with H.264 slices of slicePieces, which costs encoding and decoding time; else slices of
    // up to eight pieces and an IDR every budget.maxKeyFrameInterval pictures.
    bool repairsLosses = false;
    // 0: what repairsLosses chooses. Pictures one refresh wave takes (below 0: no waves); the most
    // video pieces one H.264 slice fills.
    int refreshPictures = 0;
    int slicePieces = 0;
    // The rate to send at from the first picture, when below the budget (0: the budget's own). An encoder
    // that takes a new rate while it runs opens for the budget and starts at this rate, so that it can
    // climb back to the budget later; one that cannot opens for this rate (the budget's rules at it).
    int64_t startBitRate = 0;
    int startFrameRate = 0;
    // Above 0: no picture, a keyframe neither, takes more than this much of the rate (the encoder's
    // buffer), so that a slow link's pace sends each within a fraction of a second. 0: the budget's burst
    // limit over one second.
    std::chrono::milliseconds bufferTime{0};
};

// The software encoders' refresh period and H.264 slice sizes, chosen by measurement (the reasons and
// the figures are in LibavVideoEncoder.cpp).
inline constexpr int repairRefreshPictures = 4;
inline constexpr int repairSlicePieces = 1;
inline constexpr int plainSlicePieces = 8;
// The most slices x264 cuts a picture into, whatever the slice size says: libavcodec's H.264 decoder
// numbers a picture's slices in a table of 32 and, from the 32nd on, may mix up neighbouring slices
// (artefacts, and a warning for every picture). A large picture (a keyframe of hundreds of pieces) then
// gets slices of several pieces each: a lost piece costs a thirty-first of it instead of a strip, while
// the small pictures between keyframes still get a slice per piece.
inline constexpr int maxSlicesPerPicture = 31;

// Turns captured frames into H.264 or HEVC pictures for low-latency streaming: no frame reordering,
// the budget's bit rate and burst limit, and an IDR on demand. An encoder with a refreshPeriod() sweeps
// a column of intra-coded blocks across the picture every refreshPeriod() pictures instead of sending
// periodic IDRs, so whatever a lost piece damaged is repaired within two periods without a keyframe;
// one without sends an IDR at least every maxKeyFrameInterval frames. encode() returns at once;
// pictures come out, in order, on the encoder's own output thread through the callback given at
// creation. Shared ownership: whoever replaces an encoder may drop its reference while a capture thread
// is still inside encode().
class VideoEncoder {
public:
    using OutputCallback = std::function<void(EncodedPicture&&)>;

    virtual ~VideoEncoder() = default;

    // Opens the codec and logs "• encoder budget: …". Throws AgentError (encoder) with the reason.
    // Called once, on the creator's thread, before the encoder is published to capture threads.
    virtual void start() = 0;

    // Hands over one frame; returns at once. Does nothing before a successful start(). The frame is
    // made a keyframe when `forceKeyframe` is true or a keyframe was requested since the last frame.
    // If the encoder is still busy with earlier frames, a waiting frame is replaced by this one (the
    // keyframe request carries over), so latency never builds up behind a slow encoder.
    virtual void encode(const CapturedFrame& frame, uint64_t ptsUs, bool forceKeyframe) = 0;

    // Makes the next frame handed to encode() a keyframe; any thread. Several requests before that
    // frame still make one keyframe.
    void requestKeyframe() { forcePending_.store(true, std::memory_order_relaxed); }
    bool keyframePending() const { return forcePending_.load(std::memory_order_relaxed); }

    // From the next frame on, sends at most `bitRate` while frames come `frameRate` a second, with no
    // keyframe and no pause, up to the budget it was made with; any thread. False when this encoder
    // cannot change its rate while it runs: one must be built for the new rate instead.
    virtual bool retarget(int64_t bitRate, int frameRate) {
        (void)bitRate;
        (void)frameRate;
        return false;
    }
    // Whether retarget() works: a new rate costs this encoder no keyframe. One that cannot is rebuilt for
    // every new rate, its first picture a keyframe. Valid after a successful start().
    virtual bool retargetsInPlace() const { return false; }

    virtual const VideoEncoderConfig& config() const = 0;
    // The pictures one refresh wave takes; 0 when the encoder sends periodic IDRs instead. Valid after a
    // successful start().
    virtual int refreshPeriod() const = 0;
    // What encodes: "libx264", "libx265", "h264_vaapi" or "hevc_vaapi"; empty before start().
    virtual std::string backend() const = 0;
    // Frames replaced while waiting, since creation.
    virtual uint64_t framesSkipped() const = 0;

protected:
    // Reads and clears the pending request; the one place that consumes it.
    bool takeKeyframeRequest() { return forcePending_.exchange(false, std::memory_order_relaxed); }

private:
    std::atomic<bool> forcePending_{false};
};

// The real encoder over libavcodec: VAAPI when the machine has a hardware encoder for the codec,
// else libx264 / libx265.
std::shared_ptr<VideoEncoder> makeVideoEncoder(VideoEncoderConfig config, VideoEncoder::OutputCallback onEncoded);

// The codec the agent streams when nothing asks otherwise. HEVC needs a hardware encoder: libx265
// either holds frames back or cannot keep up with 60 fps, so without one the default is H.264.
using wex::VideoCodec;

struct VideoCodecChoice {
    bool h264 = true;
    enum class Why { requested, noHardwareHevc, hardwareHevc } why = Why::noHardwareHevc;
};
// Reads DOVREL_H264 (present = H.264) and DOVREL_HEVC (present, without DOVREL_H264 = HEVC even in
// software) and probes the hardware (once per process).
VideoCodecChoice chooseDefaultCodec();
// "• HEVC encoder ready", "• H.264 encoder ready", or for the fallback
// "• H.264 encoder ready — no hardware HEVC encoder on this computer".
std::string encoderReadyLine(const VideoCodecChoice& choice);

} // namespace dovrel::agent
