// Sound converted between rates and channel counts: a tone stays the same tone (frequency and level) in
// every format, cutting the stream into buffers changes nothing, nothing above the new rate's reach
// folds back into what is heard, and a change of format mid-stream leaves neither a gap nor a step.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "runtime/audio/AudioResampler.h"
#include "tests/support/ToneMeasure.h"

using namespace dovrel;

namespace {

constexpr PcmFormat captured{48000, 2};
constexpr double hz = 440, level = 0.5;

// A converted stream, piece by piece in the formats they came in.
struct Heard {
    struct Piece {
        PcmFormat format;
        std::vector<int16_t> samples;
    };
    std::vector<Piece> pieces;

    void add(std::span<const int16_t> samples, PcmFormat format) {
        if (samples.empty()) return;
        if (pieces.empty() || pieces.back().format != format) pieces.push_back({format, {}});
        pieces.back().samples.insert(pieces.back().samples.end(), samples.begin(), samples.end());
    }
    void add(const AudioResampler::Converted& c, PcmFormat to) {
        add(c.held, c.heldFormat);
        add(c.samples, to);
    }
    double seconds() const {
        double s = 0;
        for (const Piece& p : pieces)
            s += static_cast<double>(p.samples.size() / p.format.channels) / p.format.sampleRate;
        return s;
    }
    // The largest change from one sample to the next against what the tone itself makes in the time
    // between them; a join that lost, repeated or zeroed even one sample stands out above 1.
    double worstStep() const {
        double worst = 0;
        double last = 0;
        std::optional<uint32_t> lastRate;
        for (const Piece& p : pieces)
            for (std::size_t i = 0; i < p.samples.size(); i += p.format.channels) {
                const double v = p.samples[i] / 32767.0;
                if (lastRate) {
                    const double slowest = std::min(*lastRate, p.format.sampleRate);
                    const double most = level * 2 * std::numbers::pi * hz / slowest * 1.05 + 0.005;
                    worst = std::max(worst, std::abs(v - last) / most);
                }
                last = v;
                lastRate = p.format.sampleRate;
            }
        return worst;
    }
};

Heard convertTone(AudioResampler& r, PcmFormat to, std::size_t buffers, std::size_t frames = 256,
                  std::size_t from = 0) {
    Heard heard;
    for (std::size_t b = 0; b < buffers; ++b)
        heard.add(
            r.convert(test::toneSamples(hz, level, captured.sampleRate, 2, frames, from + b * frames), captured, to),
            to);
    return heard;
}

} // namespace

TEST(AudioResampler, SoundInTheWantedFormatPassesUntouched) {
    AudioResampler r;
    const auto in = test::toneSamples(hz, level, 48000, 2, 256);
    const auto out = r.convert(in, captured, captured);
    EXPECT_TRUE(out.held.empty());
    ASSERT_EQ(out.samples.size(), in.size());
    EXPECT_TRUE(std::equal(in.begin(), in.end(), out.samples.begin()));
    // A stray sample at the end is not a sample frame.
    const std::vector<int16_t> odd = {1, 2, 3};
    EXPECT_EQ(r.convert(odd, captured, captured).samples.size(), 2u);
}

TEST(AudioResampler, AToneStaysTheSameToneInEveryFormat) {
    for (const PcmFormat to : {PcmFormat{32000, 2}, PcmFormat{24000, 2}, PcmFormat{32000, 1}, PcmFormat{24000, 1},
                               PcmFormat{16000, 1}, PcmFormat{12000, 1}, PcmFormat{8000, 1}}) {
        SCOPED_TRACE(std::to_string(to.sampleRate) + " Hz, " + std::to_string(to.channels) + " channel(s)");
        AudioResampler r;
        const Heard heard = convertTone(r, to, 100); // about half a second
        ASSERT_EQ(heard.pieces.size(), 1u);
        const auto& samples = heard.pieces[0].samples;
        for (std::size_t c = 0; c < to.channels; ++c) {
            const test::HeardTone t = test::measureTone(samples, to.channels, c, to.sampleRate);
            EXPECT_NEAR(t.hz, hz, 3);
            EXPECT_NEAR(t.peak, level, 0.01);
        }
        // As many seconds as went in, to within the filter's last few samples.
        EXPECT_NEAR(heard.seconds(), 100 * 256 / 48000.0, 40.0 / to.sampleRate);
        EXPECT_LT(heard.worstStep(), 1.0);
    }
}

TEST(AudioResampler, BuffersOfAnySizeMakeTheSameStream) {
    AudioResampler whole, pieces;
    const Heard once = convertTone(whole, {16000, 1}, 1, 256 * 12);
    Heard cut;
    std::size_t at = 0;
    for (const std::size_t frames : {256u, 7u, 1000u, 1u, 300u, 512u, 996u}) {
        cut.add(pieces.convert(test::toneSamples(hz, level, 48000, 2, frames, at), captured, {16000, 1}), {16000, 1});
        at += frames;
    }
    ASSERT_EQ(at, 256u * 12);
    ASSERT_EQ(cut.pieces.size(), 1u);
    EXPECT_EQ(cut.pieces[0].samples, once.pieces.at(0).samples);
}

TEST(AudioResampler, NothingAboveTheNewRatesReachFoldsBackIntoTheSound) {
    AudioResampler r;
    Heard heard;
    for (std::size_t b = 0; b < 100; ++b)
        heard.add(r.convert(test::toneSamples(6000, level, 48000, 2, 256, b * 256), captured, {8000, 1}), {8000, 1});
    // 6 kHz is beyond what 8 kHz carries; dropping samples instead would make it a 2 kHz tone. (From
    // the filter's first reach on: before it, the tone's own start.)
    const auto& samples = heard.pieces.at(0).samples;
    const test::HeardTone t = test::measureTone(std::span(samples).subspan(40), 1, 0, 8000);
    EXPECT_LT(t.peak, 0.01);
}

TEST(AudioResampler, AChangeOfFormatMidStreamLeavesNoGapAndNoStep) {
    // The agent's formats as its link slows down and recovers, a fifth of a second each, and the
    // controller's side: whatever comes, played at 48 kHz stereo.
    const std::vector<PcmFormat> formats = {{48000, 2}, {32000, 2}, {16000, 1}, {8000, 1},
                                            {24000, 1}, {48000, 2}, {12000, 1}, {24000, 2}};
    AudioResampler agent, controller;
    Heard sent, played;
    std::size_t at = 0;
    for (const PcmFormat to : formats)
        for (int b = 0; b < 38; ++b, at += 256) {
            const auto c = agent.convert(test::toneSamples(hz, level, 48000, 2, 256, at), captured, to);
            sent.add(c, to);
            // The controller converts each piece as it arrives, in the format it came in.
            const std::vector<int16_t> held(c.held.begin(), c.held.end()), now(c.samples.begin(), c.samples.end());
            if (!held.empty()) played.add(controller.convert(held, c.heldFormat, captured), captured);
            played.add(controller.convert(now, to, captured), captured);
        }
    ASSERT_EQ(sent.pieces.size(), formats.size());
    for (std::size_t i = 0; i < formats.size(); ++i)
        EXPECT_EQ(sent.pieces[i].format, formats[i]);
    const double in = static_cast<double>(at) / 48000;
    // Every change lets out what the filter held: all the time that went in comes out, less only the
    // last format's own tail, which is still held.
    EXPECT_NEAR(sent.seconds(), in, 1e-3);
    EXPECT_NEAR(played.seconds(), in, 2e-3);
    EXPECT_LT(sent.worstStep(), 1.0);
    EXPECT_LT(played.worstStep(), 1.0);
    const test::HeardTone t = test::measureTone(played.pieces.at(0).samples, 2, 0, 48000);
    EXPECT_NEAR(t.hz, hz, 2);
    EXPECT_NEAR(t.peak, level, 0.015);
}

TEST(AudioResampler, AFormatItCannotMakeGivesNothingAndResetStartsAfresh) {
    AudioResampler r;
    const auto in = test::toneSamples(hz, level, 48000, 2, 256);
    EXPECT_TRUE(r.convert(in, captured, {0, 1}).samples.empty());
    EXPECT_TRUE(r.convert(in, {48000, 0}, {16000, 1}).samples.empty());
    EXPECT_FALSE(r.convert(in, captured, {16000, 1}).samples.empty());
    r.reset();
    // Nothing of the stream before is let out after a reset.
    const auto after = r.convert(in, captured, {8000, 1});
    EXPECT_TRUE(after.held.empty());
    EXPECT_FALSE(after.samples.empty());
}
