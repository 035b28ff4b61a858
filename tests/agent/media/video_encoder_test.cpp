#include <algorithm>
#include <cstdlib>
#include <optional>
#include <random>
#include <utility>

#include <gtest/gtest.h>

#include "MediaTestSupport.h"
#include "agent/common/AgentError.h"
#include "agent/media/HardwareEncoders.h"
#include "agent/media/LibavVideoEncoder.h"
#include "agent/media/SyntheticSource.h"
#include "protocol/NalUnits.h"

using namespace dovrel;
using namespace dovrel::agent;
using wex::Bytes;

namespace {

using Hardware = LibavVideoEncoder::Hardware;

std::shared_ptr<FrameBuffer> patternFrame(int w, int h, uint64_t t) {
    auto b = std::make_shared<FrameBuffer>(PixelFormat::yuv420p, w, h);
    SyntheticSource::paint(*b, t);
    return b;
}

// Encodes one frame and waits for its picture.
EncodedPicture encodeOne(VideoEncoder& enc, test::PictureSink& sink, const CapturedFrame& f, uint64_t pts,
                         bool force = false) {
    const std::size_t before = sink.pictures().size();
    enc.encode(f, pts, force);
    EXPECT_TRUE(sink.waitFor(before + 1));
    return sink.pictures().at(before);
}

// Fresh noise every frame, so that every picture takes what the rate control allows: the bytes a
// picture takes over the last 30 of `frames` pictures, and whether any picture but an encoder's first
// (a forced keyframe) was a keyframe.
struct NoiseRun {
    int w, h;
    test::PictureSink& sink;
    std::mt19937 rng{2};
    int t = 0;
    bool keyframes = false;
    const VideoEncoder* last = nullptr;

    double operator()(VideoEncoder& enc, int frames) {
        std::size_t bytes = 0;
        for (int i = 0; i < frames; ++i, ++t) {
            auto b = patternFrame(w, h, static_cast<uint64_t>(t));
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    b->plane(0)[static_cast<std::ptrdiff_t>(y) * b->stride(0) + x] = static_cast<uint8_t>(rng());
            const bool first = std::exchange(last, &enc) != &enc;
            const EncodedPicture p = encodeOne(enc, sink, FrameBuffer::frame(b, {}), static_cast<uint64_t>(t), first);
            if (!first) keyframes = keyframes || p.keyframe;
            if (i >= frames - 30)
                for (const auto& u : p.units)
                    bytes += u.size();
        }
        return static_cast<double>(bytes) / 30;
    }
};

// How far the decoded luma is from the pattern of frame t, on average, over the rows away from the
// wrap from 255 to 0 (where any codec smears the edge).
double gradientError(const AVFrame& f, uint64_t t) {
    double sum = 0;
    long n = 0;
    for (int y = 0; y < f.height; ++y) {
        const int expected = static_cast<int>((static_cast<uint64_t>(y) + t) % 256);
        if (expected < 8 || expected > 247) continue;
        const uint8_t* row = f.data[0] + static_cast<std::ptrdiff_t>(y) * f.linesize[0];
        for (int x = 0; x < f.width; ++x) {
            sum += std::abs(row[x] - expected);
            ++n;
        }
    }
    return n ? sum / static_cast<double>(n) : 1e9;
}

double meanOf(const AVFrame& f, int plane, int x0, int y0, int x1, int y1) {
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            sum += f.data[plane][static_cast<std::ptrdiff_t>(y) * f.linesize[plane] + x];
    return sum / ((x1 - x0) * (y1 - y0));
}

const char* codecName(bool h264) { return h264 ? "H264" : "HEVC"; }

std::vector<int> unitTypes(VideoCodec codec, const std::vector<Bytes>& list) {
    std::vector<int> out;
    for (const auto& u : list)
        out.push_back(wex::nalType(codec, u));
    return out;
}

} // namespace

class EncoderCodecs : public ::testing::TestWithParam<bool> {
protected:
    test::LogCapture log;
    test::PictureSink sink;
};

TEST_P(EncoderCodecs, EncodesTheMovingPatternSoThatADecoderGetsItBack) {
    const bool h264 = GetParam();
    LibavVideoEncoder enc({640, 360, h264, VideoBudget::lan()}, sink.callback(), Hardware::never);
    enc.start();
    EXPECT_EQ(enc.backend(), h264 ? "libx264" : "libx265");
    test::TestDecoder decoder(h264);
    for (uint64_t t = 0; t < 12; ++t) {
        const EncodedPicture p = encodeOne(enc, sink, FrameBuffer::frame(patternFrame(640, 360, t), {}), t * 16667);
        EXPECT_EQ(p.keyframe, t == 0) << t;
        const auto frames = decoder.decode(test::annexB(p));
        ASSERT_EQ(frames.size(), 1u) << "frame " << t;
        const AVFrame& f = *frames[0];
        EXPECT_EQ(f.width, 640);
        EXPECT_EQ(f.height, 360);
        EXPECT_LT(gradientError(f, t), 2.0) << "frame " << t;
        EXPECT_NEAR(meanOf(f, 1, 0, 0, 320, 180), 128, 1.0);
        EXPECT_NEAR(meanOf(f, 2, 0, 0, 320, 180), 128, 1.0);
    }
}

TEST_P(EncoderCodecs, AForcedKeyframeIsAnIdrWithItsParameterSetsInFront) {
    const bool h264 = GetParam();
    const VideoCodec codec = h264 ? VideoCodec::h264 : VideoCodec::hevc;
    LibavVideoEncoder enc({320, 192, h264, VideoBudget::lan()}, sink.callback(), Hardware::never);
    enc.start();
    uint64_t t = 0;
    for (; t < 5; ++t)
        encodeOne(enc, sink, FrameBuffer::frame(patternFrame(320, 192, t), {}), t);

    enc.requestKeyframe();
    enc.requestKeyframe(); // two requests, one keyframe
    EXPECT_TRUE(enc.keyframePending());
    const EncodedPicture forced = encodeOne(enc, sink, FrameBuffer::frame(patternFrame(320, 192, t), {}), t);
    ++t;
    EXPECT_FALSE(enc.keyframePending());
    ASSERT_TRUE(forced.keyframe);
    ASSERT_TRUE(forced.parameterSets);
    std::vector<int> setTypes;
    for (const auto& s : *forced.parameterSets)
        setTypes.push_back(wex::nalType(codec, s));
    EXPECT_EQ(setTypes, h264 ? (std::vector<int>{7, 8}) : (std::vector<int>{32, 33, 34}));
    // A real IDR (x265 would make a CRA without forced-idr), which a fresh decoder can start at.
    bool idr = false;
    for (const auto& u : forced.units) {
        const int type = wex::nalType(codec, u);
        idr = idr || (h264 ? type == 5 : (type == 19 || type == 20));
    }
    EXPECT_TRUE(idr);
    test::TestDecoder fresh(h264);
    const auto frames = fresh.decode(test::annexB(forced));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_LT(gradientError(*frames[0], t - 1), 2.0);

    EXPECT_FALSE(encodeOne(enc, sink, FrameBuffer::frame(patternFrame(320, 192, t), {}), t).keyframe);
    ++t;
    EXPECT_TRUE(encodeOne(enc, sink, FrameBuffer::frame(patternFrame(320, 192, t), {}), t, true).keyframe);
}

TEST_P(EncoderCodecs, RefreshWavesComeAtTheirPeriodWithParameterSetsAndKeyframesOnlyWhenAsked) {
    const bool h264 = GetParam();
    VideoEncoderConfig config{160, 96, h264, {1000000, 250000, 30, 30}};
    config.repairsLosses = true;
    {
        LibavVideoEncoder chosen(config, sink.callback(), Hardware::never);
        chosen.start();
        EXPECT_EQ(chosen.refreshPeriod(), repairRefreshPictures);
        const auto lines = log.lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(),
                            "• encoder budget: 1 Mbit/s, 30 fps, a refresh wave every " +
                                std::to_string(repairRefreshPictures) + " frames"),
                  lines.end())
            << log.text();
    }
    config.refreshPictures = 10;
    LibavVideoEncoder enc(config, sink.callback(), Hardware::never);
    enc.start();
    EXPECT_EQ(enc.refreshPeriod(), 10);
    std::vector<uint64_t> keys, waves;
    std::vector<EncodedPicture> fromWave;
    // Every picture comes out of the call that took it (encodeOne waits for it alone).
    for (uint64_t t = 0; t < 45; ++t) {
        EncodedPicture p = encodeOne(enc, sink, FrameBuffer::frame(patternFrame(160, 96, t), {}), t, t == 25);
        if (p.keyframe) keys.push_back(t);
        if (p.refresh) {
            waves.push_back(t);
            EXPECT_FALSE(p.keyframe);
            ASSERT_TRUE(p.parameterSets) << t;
            EXPECT_EQ(p.parameterSets->size(), h264 ? 2u : 3u);
        } else if (!p.keyframe) {
            EXPECT_FALSE(p.parameterSets) << t;
        }
        if (t >= 10 && t <= 20) fromWave.push_back(std::move(p));
    }
    // The interval is the wave's now; an asked-for keyframe starts the count again.
    EXPECT_EQ(keys, (std::vector<uint64_t>{0, 25}));
    EXPECT_EQ(waves, (std::vector<uint64_t>{10, 20, 35}));

    // A decoder that begins at a wave's first picture has the whole picture once the wave has passed
    // (x264 marks the point with a recovery-point message, which libavcodec waits for before it shows
    // anything; x265 sends none).
    if (!h264) return;
    test::TestDecoder late(h264);
    std::optional<uint64_t> firstShown;
    for (uint64_t i = 0; i < fromWave.size(); ++i)
        for (const auto& f : late.decode(test::annexB(fromWave[i]))) {
            if (!firstShown) firstShown = 10 + i;
            EXPECT_LT(gradientError(*f, 10 + i), 2.0) << 10 + i;
        }
    ASSERT_TRUE(firstShown);
    EXPECT_LE(*firstShown, 20u);
}

TEST_P(EncoderCodecs, WithoutRefreshWavesKeyframesComeAtTheBudgetsInterval) {
    const bool h264 = GetParam();
    LibavVideoEncoder enc({160, 96, h264, {1000000, 250000, 30, 30}}, sink.callback(), Hardware::never);
    enc.start();
    EXPECT_EQ(enc.refreshPeriod(), 0);
    std::vector<uint64_t> keys;
    for (uint64_t t = 0; t < 65; ++t) {
        const EncodedPicture p = encodeOne(enc, sink, FrameBuffer::frame(patternFrame(160, 96, t), {}), t);
        EXPECT_FALSE(p.refresh);
        if (p.keyframe) keys.push_back(t);
    }
    EXPECT_EQ(keys, (std::vector<uint64_t>{0, 30, 60}));
}

INSTANTIATE_TEST_SUITE_P(Software, EncoderCodecs, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) { return codecName(p.param); });

class Encoder : public ::testing::Test {
protected:
    test::LogCapture log;
    test::PictureSink sink;
};

TEST_F(Encoder, ConvertsScreenPixelsWithTheVideoRangeMatrix) {
    // Top left white, top right black, bottom red: BT.601 video range gives Y 235, 16 and 82; red's
    // chroma is (90, 240).
    const int w = 320, h = 192;
    auto b = std::make_shared<FrameBuffer>(PixelFormat::bgra, w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = b->plane(0) + static_cast<std::ptrdiff_t>(y) * b->stride(0) + x * 4;
            const bool top = y < h / 2, left = x < w / 2;
            const uint8_t v = top && left ? 255 : 0;
            p[0] = v;
            p[1] = v;
            p[2] = top ? v : 255;
            p[3] = 0x77; // the unused byte must not matter
        }
    LibavVideoEncoder enc({w, h, true, VideoBudget::lan()}, sink.callback(), Hardware::never);
    enc.start();
    test::TestDecoder decoder(true);
    const auto frames = decoder.decode(test::annexB(encodeOne(enc, sink, FrameBuffer::frame(b, {}), 0)));
    ASSERT_EQ(frames.size(), 1u);
    const AVFrame& f = *frames[0];
    EXPECT_NEAR(meanOf(f, 0, 8, 8, 150, 88), 235, 3);
    EXPECT_NEAR(meanOf(f, 0, 170, 8, 312, 88), 16, 3);
    EXPECT_NEAR(meanOf(f, 0, 8, 104, 312, 184), 82, 3);
    EXPECT_NEAR(meanOf(f, 1, 4, 52, 156, 92), 90, 3);
    EXPECT_NEAR(meanOf(f, 2, 4, 52, 156, 92), 240, 3);
}

TEST_F(Encoder, OddSizesLoseTheirLastColumnAndRowAndOtherSizesAreScaled) {
    LibavVideoEncoder enc({321, 181, true, VideoBudget::lan()}, sink.callback(), Hardware::never);
    enc.start();
    test::TestDecoder decoder(true);
    for (const auto& [w, h] : {std::pair{321, 181}, std::pair{640, 360}, std::pair{100, 50}}) {
        const auto frames =
            decoder.decode(test::annexB(encodeOne(enc, sink, FrameBuffer::frame(patternFrame(w, h, 0), {}), 0)));
        ASSERT_EQ(frames.size(), 1u) << w;
        EXPECT_EQ(frames[0]->width, 320);
        EXPECT_EQ(frames[0]->height, 180);
    }
}

TEST_F(Encoder, DoesNothingBeforeStartAndRefusesAnEmptyPicture) {
    LibavVideoEncoder idle({320, 180, true, VideoBudget::lan()}, sink.callback(), Hardware::never);
    idle.encode(FrameBuffer::frame(patternFrame(320, 180, 0), {}), 0, true);
    EXPECT_FALSE(sink.waitFor(1, std::chrono::milliseconds(200)));
    EXPECT_EQ(idle.backend(), "");

    LibavVideoEncoder empty({0, 0, true, VideoBudget::lan()}, sink.callback(), Hardware::never);
    try {
        empty.start();
        FAIL() << "started without a picture size";
    } catch (const AgentError& e) {
        EXPECT_EQ(e.kind(), AgentError::Kind::encoder);
        EXPECT_EQ(std::string(e.what()), "encoder: no picture to encode at 0×0");
    }
    empty.encode(FrameBuffer::frame(patternFrame(320, 180, 0), {}), 0, true);
    EXPECT_FALSE(sink.waitFor(1, std::chrono::milliseconds(100)));
}

TEST_F(Encoder, PicturesComeOnTheEncodersThreadWithTheirTimesAndTheBudgetIsLogged) {
    LibavVideoEncoder enc({320, 180, true, VideoBudget::relay()}, sink.callback(), Hardware::never);
    enc.start();
    const Instant captured = std::chrono::steady_clock::now() - std::chrono::milliseconds(3);
    CapturedFrame f = FrameBuffer::frame(patternFrame(320, 180, 0), captured);
    const EncodedPicture p = encodeOne(enc, sink, f, 123456789012ULL);
    EXPECT_EQ(p.ptsUs, 123456789012ULL);
    EXPECT_EQ(p.capturedAt, captured);
    EXPECT_GT(p.encodeMicros, 0u);
    EXPECT_EQ(sink.threads().at(0), "dovrel.encoder");
    const auto lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "• encoder budget: 2 Mbit/s, 30 fps, IDR every 450 frames"),
              lines.end())
        << log.text();
}

TEST_F(Encoder, ABusyEncoderKeepsOnlyTheNewestWaitingFrameAndItsKeyframeRequest) {
    LibavVideoEncoder enc({640, 360, true, VideoBudget::lan()}, sink.callback(), Hardware::never);
    enc.start();
    for (uint64_t t = 0; t < 3; ++t)
        encodeOne(enc, sink, FrameBuffer::frame(patternFrame(640, 360, t), {}), t);
    // A burst far faster than the encoder: the forced first frame of it may be replaced while it
    // waits, but the keyframe it asked for is not lost.
    std::vector<CapturedFrame> burst;
    for (uint64_t t = 3; t < 40; ++t)
        burst.push_back(FrameBuffer::frame(patternFrame(640, 360, t), {}));
    enc.encode(burst[0], 3, true);
    for (std::size_t i = 1; i < burst.size(); ++i)
        enc.encode(burst[i], 3 + i, false);
    ASSERT_TRUE(test::waitUntil([&] { return sink.pictures().size() + enc.framesSkipped() == 3 + burst.size(); }));
    const auto pics = sink.pictures();
    EXPECT_TRUE(std::any_of(pics.begin() + 3, pics.end(), [](const auto& p) { return p.keyframe; }));
    // Pictures never come out of order and the newest frame is never the one dropped.
    for (std::size_t i = 1; i < pics.size(); ++i)
        EXPECT_GT(pics[i].ptsUs, pics[i - 1].ptsUs);
    EXPECT_EQ(pics.back().ptsUs, 3 + burst.size() - 1);
}

TEST_F(Encoder, KeepsNearItsBitRateOnABusyPicture) {
    // Noise that moves every frame: the hardest picture for the rate control.
    const int w = 320, h = 180, fps = 30, frames = 90;
    const VideoBudget budget{600000, 150000, fps, 60};
    LibavVideoEncoder enc({w, h, true, budget}, sink.callback(), Hardware::never);
    enc.start();
    std::mt19937 rng(1);
    std::vector<uint8_t> noise(static_cast<std::size_t>(w) * h * 2);
    for (auto& v : noise)
        v = static_cast<uint8_t>(rng());
    std::size_t bytes = 0;
    for (int t = 0; t < frames; ++t) {
        auto b = std::make_shared<FrameBuffer>(PixelFormat::yuv420p, w, h);
        SyntheticSource::paint(*b, 0);
        for (int y = 0; y < h; ++y)
            std::copy_n(noise.data() + static_cast<std::ptrdiff_t>(y) * w + t * 7, w,
                        b->plane(0) + static_cast<std::ptrdiff_t>(y) * b->stride(0));
        const EncodedPicture p = encodeOne(enc, sink, FrameBuffer::frame(b, {}), static_cast<uint64_t>(t));
        for (const auto& u : p.units)
            bytes += u.size();
    }
    const double bitsPerSecond = static_cast<double>(bytes) * 8 / (static_cast<double>(frames) / fps);
    EXPECT_GT(bitsPerSecond, budget.averageBitRate * 0.3);
    EXPECT_LT(bitsPerSecond, static_cast<double>(budget.burstBytesPerSecond) * 8);
}

TEST_F(Encoder, ARunningEncoderTakesALowerRateAndFewerFramesASecondWithoutAKeyframe) {
    // Fresh noise every frame, so that every picture takes what the rate control allows.
    const int w = 320, h = 180;
    LibavVideoEncoder enc({w, h, true, {2000000, 500000, 30, 3000}}, sink.callback(), Hardware::never);
    enc.start();
    NoiseRun noise{w, h, sink};
    const auto run = [&](int frames) { return noise(enc, frames); };
    const double full = run(60);
    ASSERT_TRUE(enc.retarget(500000, 30));
    const double quarter = run(60);
    // A third of the frames a second at the same rate: each picture may take three times as much.
    ASSERT_TRUE(enc.retarget(500000, 10));
    const double fewer = run(60);
    ASSERT_TRUE(enc.retarget(2000000, 30));
    const double back = run(60);
    EXPECT_LT(quarter, full / 2.5) << full << " bytes a picture at the budget";
    EXPECT_GT(fewer, quarter * 2) << quarter << " bytes a picture at a quarter";
    EXPECT_GT(back, quarter * 2.5);
    EXPECT_FALSE(noise.keyframes);
}

// An encoder built while the link is slow starts at the slow rate. x264, which takes a new rate in
// place, is opened for the budget and so climbs back to it when the link recovers; libx265 takes no new
// rate through libavcodec and is opened for the slow rate itself.
TEST_F(Encoder, OneOpenedBelowItsBudgetStartsThereAndAnX264OneClimbsBackToTheBudget) {
    const int w = 320, h = 180;
    NoiseRun run{w, h, sink};
    VideoEncoderConfig slow{w, h, true, {2000000, 500000, 30, 3000}};
    slow.startBitRate = 500000;
    slow.startFrameRate = 30;

    LibavVideoEncoder x264(slow, sink.callback(), Hardware::never);
    x264.start();
    EXPECT_TRUE(x264.retargetsInPlace());
    const double low = run(x264, 90);
    ASSERT_TRUE(x264.retarget(2000000, 30));
    const double climbed = run(x264, 90);
    // What a picture of each rate takes, at 30 pictures a second.
    const auto share = [](int64_t bitRate) { return static_cast<double>(bitRate) / 8 / 30; };
    EXPECT_LT(low, share(500000) * 1.3);
    EXPECT_GT(climbed, share(2000000) * 0.6) << low << " bytes a picture at the start rate";
    EXPECT_FALSE(run.keyframes);

    VideoEncoderConfig full = slow;
    full.h264 = false;
    full.startBitRate = 0;
    VideoEncoderConfig slowHevc = slow;
    slowHevc.h264 = false;
    LibavVideoEncoder x265(slowHevc, sink.callback(), Hardware::never);
    x265.start();
    EXPECT_FALSE(x265.retargetsInPlace());
    EXPECT_FALSE(x265.retarget(2000000, 30));
    EXPECT_LT(run(x265, 90), share(500000) * 1.3) << "opened for its start rate";
    LibavVideoEncoder x265Full(full, sink.callback(), Hardware::never);
    x265Full.start();
    EXPECT_GT(run(x265Full, 90), share(2000000) * 0.6);
}

TEST_F(Encoder, MayBeDroppedFromItsOwnOutputCallback) {
    std::shared_ptr<VideoEncoder> holder;
    std::atomic<int> calls{0};
    holder = makeVideoEncoder({320, 180, true, VideoBudget::lan()}, [&](EncodedPicture&&) {
        ++calls;
        holder.reset(); // the last owner lets go on the encoder's own thread
    });
    std::shared_ptr<VideoEncoder> capture = holder; // what a capture thread holds while encoding
    capture->start();
    capture->encode(FrameBuffer::frame(patternFrame(320, 180, 0), {}), 0, false);
    capture.reset();
    ASSERT_TRUE(test::waitUntil([&] { return calls.load() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(calls.load(), 1);
}

TEST(EncoderChoice, WithoutHardwareHevcTheDefaultIsH264AndTheReadyLineSaysWhy) {
    const char* old = std::getenv("DOVREL_H264");
    const std::string saved = old ? old : "";
    ::setenv("DOVREL_H264", "", 1);
    EXPECT_EQ(chooseDefaultCodec().why, VideoCodecChoice::Why::requested);
    EXPECT_TRUE(chooseDefaultCodec().h264);
    EXPECT_EQ(encoderReadyLine(chooseDefaultCodec()), "• H.264 encoder ready");
    ::unsetenv("DOVREL_H264");
    const VideoCodecChoice c = chooseDefaultCodec();
    EXPECT_EQ(c.h264, !HardwareEncoders::probe().hevc);
    EXPECT_EQ(encoderReadyLine({true, VideoCodecChoice::Why::noHardwareHevc}),
              "• H.264 encoder ready — no hardware HEVC encoder on this computer");
    EXPECT_EQ(encoderReadyLine({false, VideoCodecChoice::Why::hardwareHevc}), "• HEVC encoder ready");
    if (old) ::setenv("DOVREL_H264", saved.c_str(), 1);
}

// On what the real encoders produce: the first picture is an IDR with its sets in front; the split
// joined again is what a decoder accepts, and the decoder agrees on which pictures are keyframes.
class NALUtilOnEncoderOutput : public ::testing::TestWithParam<bool> {};

TEST_P(NALUtilOnEncoderOutput, SplitsRealPicturesAsTheDecoderSeesThem) {
    const bool h264 = GetParam();
    const VideoCodec codec = h264 ? VideoCodec::h264 : VideoCodec::hevc;
    test::LogCapture log;
    test::PictureSink sink;
    LibavVideoEncoder enc({320, 192, h264, VideoBudget::lan()}, sink.callback(), LibavVideoEncoder::Hardware::never);
    enc.start();
    auto buffer = std::make_shared<FrameBuffer>(PixelFormat::yuv420p, 320, 192);
    for (int t = 0; t < 4; ++t) {
        SyntheticSource::paint(*buffer, static_cast<uint64_t>(t));
        enc.encode(FrameBuffer::frame(buffer, {}), static_cast<uint64_t>(t), false);
        ASSERT_TRUE(sink.waitFor(static_cast<std::size_t>(t) + 1));
    }
    const auto pics = sink.pictures();
    ASSERT_TRUE(pics[0].keyframe);
    ASSERT_TRUE(pics[0].parameterSets);
    EXPECT_EQ(unitTypes(codec, *pics[0].parameterSets),
              h264 ? (std::vector<int>{7, 8}) : (std::vector<int>{32, 33, 34}));
    test::TestDecoder decoder(h264);
    ASSERT_TRUE(decoder.ok());
    for (const auto& p : pics) {
        for (const auto& u : p.units)
            EXPECT_FALSE(wex::isParameterSet(codec, u));
        const Bytes stream = test::annexB(p);
        // Splitting the joined stream again gives the same units.
        const wex::SplitPicture again = wex::splitPicture(codec, stream);
        EXPECT_EQ(again.units, p.units);
        EXPECT_EQ(again.keyframe, p.keyframe);
        const auto frames = decoder.decode(stream);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0]->key_frame != 0, p.keyframe);
    }
    EXPECT_FALSE(pics[1].keyframe);
    EXPECT_FALSE(pics[1].parameterSets);
}

INSTANTIATE_TEST_SUITE_P(Codecs, NALUtilOnEncoderOutput, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "H264" : "HEVC"; });

TEST_F(EncoderCodecs, RepairingLossesCutsSmallPicturesIntoPieceSlicesAndNoPictureIntoMoreSlicesThanADecoderTakes) {
    // Noise: a keyframe of hundreds of pieces, which a slice per piece would cut far past the limit.
    const int w = 1280, h = 720;
    VideoEncoderConfig config{w, h, true, VideoBudget::lan()};
    config.repairsLosses = true;
    LibavVideoEncoder enc(config, sink.callback(), Hardware::never);
    enc.start();
    std::mt19937 random(7);
    auto noise = std::make_shared<FrameBuffer>(PixelFormat::yuv420p, w, h);
    for (int p = 0; p < 3; ++p)
        std::generate_n(noise->plane(p), noise->stride(p) * (p == 0 ? h : h / 2), [&] { return random(); });
    // Its slices, and the largest of them.
    const auto slicesOf = [](const EncodedPicture& pic) {
        std::pair<int, std::size_t> out;
        for (const auto& u : pic.units)
            if (const int type = wex::nalType(VideoCodec::h264, u); type == 1 || type == 5)
                out = {out.first + 1, std::max(out.second, u.size())};
        return out;
    };
    const auto [keySlices, largestKeySlice] = slicesOf(encodeOne(enc, sink, FrameBuffer::frame(noise, {}), 0));
    ASSERT_GT(largestKeySlice * static_cast<std::size_t>(keySlices), 60u * 1000u) << "too small to need the limit";
    EXPECT_LE(keySlices, maxSlicesPerPicture);
    EXPECT_GE(keySlices, 8); // still cut, so that a lost piece costs a part of it
    // Small changes (after the one that replaces the noise): every slice still fits one piece.
    (void)encodeOne(enc, sink, FrameBuffer::frame(patternFrame(w, h, 1), {}), 1);
    for (uint64_t t = 2; t < 6; ++t) {
        const auto [n, largest] = slicesOf(encodeOne(enc, sink, FrameBuffer::frame(patternFrame(w, h, t), {}), t));
        EXPECT_LT(n, maxSlicesPerPicture) << t;
        EXPECT_LE(largest, repairSlicePieces * 1000u - 4u) << t;
    }
}
