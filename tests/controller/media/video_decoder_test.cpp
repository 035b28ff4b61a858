// The decoder on real H.264 and HEVC streams made by the agent's encoder: size and colours of what
// reaches the surface, a codec switch, a new resolution whose parameter sets keep their length, decoding
// on over a loss, concealed until the next keyframe, lost slices filled from the picture before (never
// grey or green), and a surface that comes after the pictures.
#include <gtest/gtest.h>

#include "EncodedStream.h"
#include "PatternChecks.h"
#include "controller/client/video/VideoDecoder.h"
#include "protocol/PartialVideoPayload.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace dovrel::controller::test;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t red = 0xE02020, green = 0x20C040, blue = 0x2040E0, white = 0xF0F0F0, black = 0x101010,
                   yellow = 0xE0E020;

int channelDistance(uint32_t a, uint32_t b) {
    int worst = 0;
    for (int shift : {16, 8, 0})
        worst =
            std::max(worst, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
    return worst;
}

// The colour at the middle of each cell of a grid matches the one painted there.
void expectBlocks(const VideoPicture& p, const std::vector<uint32_t>& colours, int columns, int rows) {
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const int x = (2 * c + 1) * p.width / (2 * columns), y = (2 * r + 1) * p.height / (2 * rows);
            const uint32_t want = colours[static_cast<std::size_t>(r * columns + c) % colours.size()];
            const uint32_t got = p.rgbAt(x, y);
            EXPECT_LE(channelDistance(got, want), 24)
                << "cell " << c << "," << r << ": got " << std::hex << got << " want " << want;
        }
}

// Drops the middle one of a picture's slices; false when it has not `slices` of them.
bool loseMiddleSlice(EncodedStream::Payload& p, bool h264, std::size_t slices) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < p.nals.size(); ++i)
        if (wex::looksLikeSlice(h264 ? wex::VideoCodec::h264 : wex::VideoCodec::hevc, p.nals[i])) at.push_back(i);
    if (at.size() != slices) return false;
    p.nals.erase(p.nals.begin() + static_cast<std::ptrdiff_t>(at[at.size() / 2]));
    return true;
}

struct DecoderFixture : ::testing::Test {
    dovrel::test::LogCapture log; // the encoder's budget lines
    int keyframesAsked = 0;
    std::shared_ptr<VideoSurface> surface = std::make_shared<VideoSurface>();
    std::unique_ptr<VideoDecoder> decoder;

    void SetUp() override {
        VideoDecoder::Callbacks cb;
        cb.keyframeNeeded = [this] { ++keyframesAsked; };
        decoder = std::make_unique<VideoDecoder>(std::move(cb));
        decoder->setSurface(surface);
    }
    void feed(const EncodedStream::Payload& p) {
        decoder->handle(p.header, p.nals);
        ASSERT_TRUE(decoder->waitIdle(5s));
    }
    VideoPicture shown() {
        auto p = surface->latest();
        EXPECT_TRUE(p.has_value());
        return p.value_or(VideoPicture{});
    }
};

class DecoderCodecs : public DecoderFixture, public ::testing::WithParamInterface<bool> {};

} // namespace

TEST_P(DecoderCodecs, AStreamDecodesToItsSizeAndColoursPictureAfterPicture) {
    const bool h264 = GetParam();
    EncodedStream stream(640, 360, h264);
    const std::vector<uint32_t> a = {red, green, blue, white}, b = {yellow, black, white, red};

    const auto key = stream.next(colourBlocks(640, 360, a, 2, 2), true);
    ASSERT_TRUE(key.keyframe);
    feed(key);
    ASSERT_EQ(decoder->displayed(), 1u);
    VideoPicture p = shown();
    EXPECT_EQ(p.width, 640);
    EXPECT_EQ(p.height, 360);
    EXPECT_EQ(p.frameId, key.header.frameId);
    EXPECT_EQ(p.ptsUs, key.header.ptsUs);
    EXPECT_GE(p.decodedAt, p.receivedAt);
    expectBlocks(p, a, 2, 2);

    // Pictures that follow decode against the first one.
    for (int i = 0; i < 4; ++i) {
        const auto next = stream.next(colourBlocks(640, 360, i % 2 ? a : b, 2, 2));
        EXPECT_FALSE(next.keyframe);
        feed(next);
        expectBlocks(shown(), i % 2 ? a : b, 2, 2);
    }
    EXPECT_EQ(decoder->displayed(), 5u);
    EXPECT_EQ(decoder->formatsMade(), 1u);
    EXPECT_EQ(keyframesAsked, 0);
}

INSTANTIATE_TEST_SUITE_P(Software, DecoderCodecs, ::testing::Values(true, false),
                         [](const auto& p) { return p.param ? "H264" : "HEVC"; });

TEST_F(DecoderFixture, ASwitchOfCodecDropsTheOldFormatAndDecodesTheNewStreamFromItsKeyframe) {
    EncodedStream h264(320, 240, true), hevc(480, 272, false);
    hevc.setNextFrameId(3);
    feed(h264.next(colourBlocks(320, 240, {red, blue}, 2, 1), true));
    feed(h264.next(colourBlocks(320, 240, {blue, red}, 2, 1)));
    ASSERT_EQ(decoder->displayed(), 2u);

    feed(hevc.next(colourBlocks(480, 272, {green, white, black}, 3, 1), true));
    ASSERT_EQ(decoder->displayed(), 3u);
    VideoPicture p = shown();
    EXPECT_EQ(p.width, 480);
    EXPECT_EQ(p.height, 272);
    expectBlocks(p, {green, white, black}, 3, 1);
    feed(hevc.next(colourBlocks(480, 272, {black, green, white}, 3, 1)));
    expectBlocks(shown(), {black, green, white}, 3, 1);

    // And back: an H.264 picture that is no keyframe waits for one.
    h264.setNextFrameId(5);
    feed(h264.next(colourBlocks(320, 240, {red, blue}, 2, 1)));
    EXPECT_EQ(decoder->displayed(), 4u);
    feed(h264.next(colourBlocks(320, 240, {white, red}, 2, 1), true));
    EXPECT_EQ(decoder->displayed(), 5u);
    expectBlocks(shown(), {white, red}, 2, 1);
    EXPECT_EQ(decoder->formatsMade(), 3u);
}

TEST_F(DecoderFixture, ANewResolutionWithParameterSetsOfTheSameLengthGetsItsOwnFormat) {
    // Two sizes whose sequence parameter sets differ in their bytes but not in their length.
    const auto setsOf = [](int w, int h) {
        EncodedStream s(w, h, true);
        return s.next(colourBlocks(w, h, {red}, 1, 1), true).parameterSets;
    };
    const int h = 240, w1 = 320;
    const auto first = setsOf(w1, h);
    int w2 = 0;
    for (int w = w1 + 16; w <= 640 && !w2; w += 16) {
        const auto sets = setsOf(w, h);
        if (sets.size() == first.size() && sets[0].size() == first[0].size() && sets[1].size() == first[1].size() &&
            sets != first)
            w2 = w;
    }
    ASSERT_NE(w2, 0) << "no size with parameter sets of the same length";

    EncodedStream a(w1, h, true), b(w2, h, true);
    b.setNextFrameId(3);
    feed(a.next(colourBlocks(w1, h, {red, green}, 2, 1), true));
    feed(a.next(colourBlocks(w1, h, {green, red}, 2, 1)));
    feed(b.next(colourBlocks(w2, h, {blue, yellow, white}, 3, 1), true));
    ASSERT_EQ(decoder->displayed(), 3u);
    const VideoPicture p = shown();
    EXPECT_EQ(p.width, w2);
    expectBlocks(p, {blue, yellow, white}, 3, 1);
    feed(b.next(colourBlocks(w2, h, {white, blue, yellow}, 3, 1)));
    expectBlocks(shown(), {white, blue, yellow}, 3, 1);
    EXPECT_EQ(decoder->formatsMade(), 2u);

    // A keyframe with the very same sets keeps the format.
    feed(b.next(colourBlocks(w2, h, {red, red, red}, 3, 1), true));
    EXPECT_EQ(decoder->formatsMade(), 2u);
    expectBlocks(shown(), {red}, 1, 1);
}

TEST_F(DecoderFixture, AfterAMissingFrameDecodingGoesOnConcealedUntilTheNextKeyframe) {
    EncodedStream s(320, 240, true);
    feed(s.next(colourBlocks(320, 240, {red}, 1, 1), true));
    feed(s.next(colourBlocks(320, 240, {green}, 1, 1)));
    EXPECT_TRUE(shown().whole);
    (void)s.next(colourBlocks(320, 240, {blue}, 1, 1)); // lost on the way
    feed(s.next(colourBlocks(320, 240, {white}, 1, 1)));
    EXPECT_EQ(decoder->displayed(), 3u);
    EXPECT_FALSE(shown().whole);
    EXPECT_EQ(shown().frameId, 4u);
    feed(s.next(colourBlocks(320, 240, {yellow}, 1, 1)));
    EXPECT_EQ(decoder->displayed(), 4u);
    EXPECT_FALSE(shown().whole);
    EXPECT_EQ(decoder->picturesSkipped(), 0u);
    feed(s.next(colourBlocks(320, 240, {black}, 1, 1), true));
    EXPECT_EQ(decoder->displayed(), 5u);
    EXPECT_TRUE(shown().whole);
    expectBlocks(shown(), {black}, 1, 1);
}

TEST_P(DecoderCodecs, WithoutItsKeyframeTheDecoderBeginsAtARefreshWaveAndIsWholeOnceTheWaveHasPassed) {
    const bool h264 = GetParam();
    const int w = 320, h = 240, period = 6;
    EncodedStream s(w, h, h264, period);
    // Every picture moves the colours on, so a picture decoded over what is missing differs.
    const auto paint = [&](uint64_t t) {
        std::vector<uint32_t> c{red, green, blue, white, yellow, black};
        std::rotate(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(t % c.size()), c.end());
        return std::pair{colourBlocks(w, h, c, 3, 2), c};
    };
    uint64_t t = 0;
    for (; t < period; ++t)
        (void)s.next(paint(t).first, t == 0); // the keyframe and what follows it are lost
    for (; t <= 2 * period; ++t) {
        const auto [frame, colours] = paint(t);
        const auto p = s.next(frame);
        ASSERT_EQ(p.refresh, t % period == 0) << t;
        feed(p);
        // Nothing before the next wave begins: the columns the first one has not reached yet are grey.
        // Then the picture is whole, the one it began at having repaired every column.
        ASSERT_EQ(decoder->displayed(), t == 2 * period ? 1u : 0u) << t;
        if (t == 2 * period) {
            EXPECT_TRUE(shown().whole);
            expectBlocks(shown(), colours, 3, 2);
        }
    }
    EXPECT_EQ(keyframesAsked, 0);
}

TEST_F(DecoderFixture, AKeyframeLostWholeHoldsBackNoPictureAfterIt) {
    // Keyframes closer together than the decoder's count of pictures it has shown: the pictures after a
    // lost one are numbered from the start again, below the last one shown.
    EncodedStream s(320, 240, true, -1);
    const std::vector<uint32_t> colours{red, green, blue, white, yellow};
    uint64_t shownCount = 0;
    for (uint64_t t = 0; t < 40; ++t) {
        const auto p = s.next(colourBlocks(320, 240, {colours[t % colours.size()]}, 1, 1), t % 15 == 0);
        if (t == 15) continue;
        feed(p);
        ASSERT_EQ(decoder->displayed(), ++shownCount) << t;
        EXPECT_EQ(shown().whole, t < 15 || t >= 30) << t;
    }
    expectBlocks(shown(), {colours[39 % colours.size()]}, 1, 1);
}

TEST_F(DecoderFixture, ADamagedKeyframeStartsANewSizeOnlyWhenItsParameterSetsCameThrough) {
    EncodedStream small(320, 240, true), wide(480, 240, true);
    feed(small.next(colourBlocks(320, 240, {red}, 1, 1), true));
    ASSERT_EQ(decoder->displayed(), 1u);
    const auto damaged = [&](EncodedStream::Payload p, bool keepSets) {
        // The last slice is lost, and with the first piece the parameter sets in front.
        p.nals.pop_back();
        if (!keepSets)
            p.nals.erase(p.nals.begin(), p.nals.begin() + static_cast<std::ptrdiff_t>(p.parameterSets.size()));
        decoder->handle(p.header, p.nals, std::chrono::steady_clock::now(), true);
        ASSERT_TRUE(decoder->waitIdle(5s));
    };
    // The new size's first keyframe without its sets would decode against the old ones: nothing is shown,
    // nor the pictures that follow it.
    wide.setNextFrameId(2);
    auto key = wide.next(colourBlocks(480, 240, {green}, 1, 1), true);
    ASSERT_GT(key.nals.size(), key.parameterSets.size() + 1);
    damaged(key, false);
    feed(wide.next(colourBlocks(480, 240, {green}, 1, 1)));
    EXPECT_EQ(decoder->displayed(), 1u);
    // A damaged keyframe that kept them starts the new size, concealed, and the stream goes on from it.
    damaged(wide.next(colourBlocks(480, 240, {blue}, 1, 1), true), true);
    ASSERT_EQ(decoder->displayed(), 2u);
    EXPECT_EQ(shown().width, 480);
    EXPECT_FALSE(shown().whole);
    EXPECT_LE(channelDistance(shown().rgbAt(10, 10), blue), 24);
    feed(wide.next(colourBlocks(480, 240, {blue}, 1, 1)));
    EXPECT_EQ(decoder->displayed(), 3u);
    EXPECT_FALSE(shown().whole);
}

TEST_F(DecoderFixture, AFrameArrivingAfterANewerOneIsLeftOut) {
    EncodedStream s(320, 240, true);
    feed(s.next(colourBlocks(320, 240, {red}, 1, 1), true));
    const auto late = s.next(colourBlocks(320, 240, {green}, 1, 1));
    feed(s.next(colourBlocks(320, 240, {blue}, 1, 1)));
    feed(late);
    EXPECT_EQ(decoder->displayed(), 2u);
    EXPECT_EQ(decoder->picturesSkipped(), 1u);
    EXPECT_EQ(shown().frameId, 3u);
}

TEST_F(DecoderFixture, ASurfaceThatComesLateShowsTheNewestPictureAtOnceButNoneOfAnEarlierSession) {
    decoder->setSurface(nullptr);
    EncodedStream s(320, 240, false);
    feed(s.next(colourBlocks(320, 240, {red}, 1, 1), true));
    feed(s.next(colourBlocks(320, 240, {green}, 1, 1)));
    EXPECT_EQ(decoder->displayed(), 0u);

    // The window opens after the session's only keyframe: its picture comes without another.
    decoder->setSurface(surface);
    ASSERT_TRUE(decoder->waitIdle(5s));
    EXPECT_EQ(decoder->displayed(), 1u);
    expectBlocks(shown(), {green}, 1, 1);
    feed(s.next(colourBlocks(320, 240, {blue}, 1, 1)));
    EXPECT_EQ(decoder->displayed(), 2u);
    expectBlocks(shown(), {blue}, 1, 1);

    // The surface goes with its window: the decoder lets go of it and carries on quietly.
    std::weak_ptr<VideoSurface> held = surface;
    surface.reset();
    EXPECT_TRUE(held.expired());
    feed(s.next(colourBlocks(320, 240, {red}, 1, 1)));
    EXPECT_EQ(decoder->displayed(), 2u);

    // A new session shows nothing of the last one.
    decoder->reset();
    auto next = std::make_shared<VideoSurface>();
    decoder->setSurface(next);
    ASSERT_TRUE(decoder->waitIdle(5s));
    EXPECT_EQ(decoder->displayed(), 2u);
    EXPECT_FALSE(next->latest());
}

TEST_F(DecoderFixture, DamagedDataAsksForAKeyframeAndIsNotShown) {
    EncodedStream s(320, 240, true);
    feed(s.next(colourBlocks(320, 240, {red}, 1, 1), true));
    auto p = s.next(colourBlocks(320, 240, {green}, 1, 1));
    for (auto& u : p.nals)
        for (std::size_t i = 1; i < u.size(); ++i)
            u[i] = static_cast<uint8_t>(u[i] * 31 + 7);
    feed(p);
    auto q = s.next(colourBlocks(320, 240, {blue}, 1, 1));
    feed(q);
    EXPECT_GE(keyframesAsked, 1);
    expectBlocks(shown(), {red}, 1, 1);
    feed(s.next(colourBlocks(320, 240, {white}, 1, 1), true));
    expectBlocks(shown(), {white}, 1, 1);
    EXPECT_TRUE(shown().whole);
}

TEST_P(DecoderCodecs, LostSlicesShowThePictureBeforeInTheirPlaceNeverGreyOrGreen) {
    const bool h264 = GetParam();
    const int w = 640, h = 360;
    // Three encoder threads: three slices a picture for H.264. x265 cuts one: losing it loses the picture.
    EncodedStream s(w, h, h264, 0, 3);
    VideoDecoder::Callbacks cb;
    cb.keyframeNeeded = [this] { ++keyframesAsked; };
    decoder = std::make_unique<VideoDecoder>(std::move(cb), 4); // slice threads, as on most machines
    decoder->setSurface(surface);
    // Strong reds all, and so is any blend of them: what a decoder leaves where it decoded nothing, grey
    // (0x80) or green (0x00), is not.
    const auto colours = [](uint64_t t) {
        std::vector<uint32_t> c{0xE02020, 0xE0E020, 0xE020E0, 0xE08020};
        std::rotate(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(t % c.size()), c.end());
        return c;
    };
    const auto expectPainted = [&](const VideoPicture& p, uint64_t t) {
        int wrong = 0;
        for (int y = 4; y < p.height; y += 8)
            for (int x = 4; x < p.width; x += 8)
                if (const uint32_t got = p.rgbAt(x, y); (got >> 16) < 0xA0 && ++wrong <= 3)
                    ADD_FAILURE() << "picture " << t << " at " << x << "," << y << ": " << hex(got);
        EXPECT_EQ(wrong, 0) << "picture " << t;
    };
    feed(s.next(colourBlocks(w, h, colours(0), 5, 4), true));
    ASSERT_EQ(decoder->displayed(), 1u);
    for (uint64_t t = 1; t < 24; ++t) {
        auto p = s.next(colourBlocks(w, h, colours(t), 5, 4), t == 8);
        const bool lossy = (t >= 3 && t <= 5) || (t >= 10 && t <= 20);
        if (lossy) {
            ASSERT_TRUE(loseMiddleSlice(p, h264, h264 ? 3 : 1)) << t;
        }
        const uint64_t before = surface->generation(), wholeBefore = decoder->picturesWhole(),
                       takenBefore = decoder->picturesTaken();
        decoder->handle(p.header, p.nals, std::chrono::steady_clock::now(), lossy);
        ASSERT_TRUE(decoder->waitIdle(5s));
        // The first losses: slice threads cannot fill lost slices in, so those pictures are left out and
        // the decoder stands in for them with the one before. HEVC fills nothing in, and stands in for a
        // lost picture with grey: the picture before stays until the keyframe. From there on H.264 is
        // decoded on one thread, which fills lost slices in from the picture before; HEVC shows whole
        // pictures only.
        const bool held = h264 ? t >= 3 && t <= 5 : (t >= 3 && t < 8) || t >= 10;
        EXPECT_EQ(surface->generation() - before, held ? 0u : 1u) << t;
        const VideoPicture q = shown();
        EXPECT_EQ(q.frameId, held ? (t < 8 ? 3u : 10u) : t + 1) << t;
        expectPainted(q, t);
        EXPECT_EQ(q.whole, held || t < 3 || t == 8 || t == 9) << t;
        // As the slow-link watch counts them: a picture held back or shown concealed is not whole.
        EXPECT_EQ(decoder->picturesTaken() - takenBefore, 1u) << t;
        EXPECT_EQ(decoder->picturesWhole() - wholeBefore, !held && (t < 3 || t == 8 || t == 9) ? 1u : 0u) << t;
        if (t == 8 || t == 9) expectBlocks(q, colours(t), 5, 4);
    }
    EXPECT_GE(keyframesAsked, 1);
}

TEST_F(DecoderFixture, AfterACalmSpellH264GoesBackToSliceThreadsAtARefreshWaveWithoutAKeyframe) {
    EncodedStream s(320, 240, true, 6, 3); // refresh waves of six pictures, three slices each
    decoder = std::make_unique<VideoDecoder>(VideoDecoder::Callbacks{}, 4);
    decoder->setSurface(surface);
    const auto colours = [](uint64_t t) { return std::vector<uint32_t>{t % 2 ? red : blue, green}; };
    const auto next = [&](uint64_t t, bool lossy) {
        auto p = s.next(colourBlocks(320, 240, colours(t), 2, 1), t == 0 || t == 2);
        EXPECT_TRUE(!lossy || loseMiddleSlice(p, true, 3));
        decoder->handle(p.header, p.nals, std::chrono::steady_clock::now(), lossy);
        EXPECT_TRUE(decoder->waitIdle(5s));
        return p;
    };
    // A loss, whose keyframe brings a decoder of one thread; then none for longer than the calm spell,
    // and no keyframe either.
    const uint64_t end = 3 + VideoDecoder::calmPictures + 3 * 6;
    for (uint64_t t = 0; t < end; ++t) {
        const auto p = next(t, t == 1);
        ASSERT_TRUE(t <= 2 || (!p.keyframe && p.refresh == (t % 6 == 2))) << t;
        // Never the grey of what a decoder begun at a wave has not reached yet; shown on once it has.
        expectBlocks(shown(), colours(shown().frameId - 1), 2, 1);
    }
    EXPECT_EQ(shown().frameId, end);
    // Slice threads again: a picture (not a wave's first) that loses a slice is left out, not concealed.
    const uint64_t before = surface->generation();
    next(end, true);
    EXPECT_EQ(surface->generation(), before);
}
