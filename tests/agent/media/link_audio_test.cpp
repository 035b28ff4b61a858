// The sound's share of the link: the format chosen for each rate, and what waits for a whole frame.
// (Frames in each format, and the stream across a change of it: send_path_test.)
#include <gtest/gtest.h>

#include <vector>

#include "agent/media/AudioLinkFormat.h"
#include "agent/media/LinkAudio.h"
#include "tests/support/ToneMeasure.h"

using namespace dovrel;
using namespace dovrel::agent;

namespace {

constexpr int64_t lan = 12'000'000, relay = 2'500'000;
constexpr PcmFormat captured{48000, 2};

struct Frame {
    PcmFormat format;
    std::vector<int16_t> pcm;
};

// Feeds `buffers` captured buffers of a 440 Hz tone, from buffer `from` of it on.
void feedTone(LinkAudio& audio, std::vector<Frame>& frames, std::size_t buffers, std::size_t from = 0) {
    for (std::size_t b = from; b < from + buffers; ++b)
        audio.add(test::toneSamples(440, 0.5, 48000, 2, 256, b * 256), captured,
                  [&](std::span<const int16_t> pcm, PcmFormat format) {
                      frames.push_back({format, std::vector<int16_t>(pcm.begin(), pcm.end())});
                  });
}

} // namespace

TEST(AudioLinkFormat, TheFullBudgetKeepsTheCapturedSoundAndALowerRateGetsAQuarterOfIt) {
    struct Case {
        int64_t rate, full;
        PcmFormat format;
    };
    for (const Case& c : std::vector<Case>{
             {lan, lan, {48000, 2}},
             {relay, relay, {48000, 2}}, // as the relay's budget always had it
             {20'000'000, lan, {48000, 2}},
             {7'000'000, lan, {48000, 2}},
             {6'000'000, lan, {32000, 2}},
             {3'000'000, lan, {32000, 1}},
             {2'000'000, lan, {24000, 1}},
             {1'500'000, lan, {16000, 1}},
             {1'000'000, lan, {12000, 1}},
             {750'000, lan, {8000, 1}},
             {500'000, lan, {8000, 1}}, // the link rule's floor: the least, a little over a quarter
             {0, lan, {8000, 1}},
         }) {
        SCOPED_TRACE(std::to_string(c.rate) + " of " + std::to_string(c.full));
        EXPECT_EQ(AudioLinkFormat::forRate(c.rate, c.full), c.format);
    }
    // Sealed frames of 256 sample frames: 1069 bytes each for stereo, 187.5 of them a second at 48 kHz.
    EXPECT_EQ(AudioLinkFormat::bitRate({48000, 2}), 1'603'500);
    EXPECT_EQ(AudioLinkFormat::bitRate({8000, 1}), 139'250);

    // Below the full budget: within a quarter unless at the least, and never less for more rate.
    int64_t last = 0;
    for (int64_t rate = 100'000; rate < lan; rate += 50'000) {
        const PcmFormat f = AudioLinkFormat::forRate(rate, lan);
        const int64_t bits = AudioLinkFormat::bitRate(f);
        if (f != AudioLinkFormat::least) {
            EXPECT_LE(bits * 4, rate) << rate;
        }
        EXPECT_GE(bits, last) << rate;
        last = bits;
    }
}

TEST(LinkAudio, AResetDropsWhatWaits) {
    LinkAudio audio;
    audio.setFormatFor(1'000'000, lan);
    std::vector<Frame> frames;
    feedTone(audio, frames, 1); // 64 samples of 12 kHz mono: not a frame yet
    EXPECT_TRUE(frames.empty());
    audio.reset();
    feedTone(audio, frames, 12, 1); // 768 samples more
    std::size_t samples = 0;
    for (const Frame& f : frames)
        samples += f.pcm.size();
    EXPECT_EQ(frames.size(), 2u);
    EXPECT_EQ(samples, 512u);
}
