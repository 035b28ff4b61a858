#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "runtime/audio/PcmFormat.h"

struct SwrContext;

namespace dovrel {

// Sound from one rate and channel count to another, buffer after buffer of one stream: a band-limited
// filter (libswresample's), whose state runs on from each buffer into the next, so that cutting a stream
// into buffers changes nothing. Stereo becomes mono as the mean of the two channels and mono stereo as
// the same samples on both, so a tone keeps its level either way. Sound already in the wanted format
// passes untouched.
//
// A change of either format goes on in time, without a gap or a step: the old conversion's output ends
// where the stream's sound changed, the new one's begins there. A filter needs the sound on both sides
// of where it is, so each is given it: a new output format runs over the last few milliseconds of the
// same input first; across a new input format, the old conversion is run on over the first samples of
// the new input and the new one over the last of the old, each brought to the other's rate by straight
// lines between samples, and only their output up to (from) the change is kept. One thread at a time.
class AudioResampler {
public:
    struct Converted {
        // The end of the old conversion, when a new input format came: up to the change, in the format
        // that conversion made (`heldFormat`).
        std::span<const int16_t> held;
        PcmFormat heldFormat;
        // The buffer in the wanted format; its length follows the rates, a sample frame more or less.
        std::span<const int16_t> samples;
    };
    // Input kept for a change of output format: more than the filter's reach at any rate.
    static constexpr std::size_t historyFrames = 512;
    // Samples of the other side given to a filter across a change of input format: beyond its reach.
    static constexpr std::size_t bridgeFrames = 64;

    AudioResampler();
    ~AudioResampler();
    AudioResampler(const AudioResampler&) = delete;
    AudioResampler& operator=(const AudioResampler&) = delete;

    // `in`: whole sample frames of `from`; a trailing partial frame is left out. A format the library
    // cannot convert gives nothing. The spans stay valid until the next call.
    Converted convert(std::span<const int16_t> in, PcmFormat from, PcmFormat to);
    // Forgets the stream: the next buffer begins one of its own.
    void reset();

private:
    struct SwrFree {
        void operator()(SwrContext* s) const;
    };
    // A conversion from_ -> to_: the library's context, or none where the formats are the same.
    bool open(PcmFormat from, PcmFormat to);
    // What the conversion has not let out yet, in seconds of input.
    double delaySeconds() const;
    // Converts `in` onto the end of `out`, leaving out the first dropFrames_ it makes.
    void run(std::span<const int16_t> in, std::vector<int16_t>& out);
    void remember(std::span<const int16_t> in);
    // A new output format of the same input, taking over where the old one's output ended.
    void newOutput(PcmFormat to);
    // A new input format: the old conversion's output up to `in` into held_, then the new one, ready
    // for `in`.
    void newInput(std::span<const int16_t> in, PcmFormat from, PcmFormat to);

    std::unique_ptr<SwrContext, SwrFree> swr_;
    PcmFormat from_{};
    PcmFormat to_{};
    bool usable_ = false;
    int64_t dropFrames_ = 0;
    std::vector<int16_t> history_; // the latest input, in from_
    std::vector<int16_t> held_;
    std::vector<int16_t> out_;
    std::vector<int16_t> made_;
};

} // namespace dovrel
