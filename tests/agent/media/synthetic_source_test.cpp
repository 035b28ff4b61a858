#include <atomic>
#include <mutex>

#include <gtest/gtest.h>

#include "MediaTestSupport.h"
#include "agent/media/SyntheticSource.h"

using namespace dovrel;
using namespace dovrel::agent;

namespace {

uint8_t at(const CapturedFrame& f, int plane, int x, int y) {
    return f.planes[static_cast<std::size_t>(plane)]
                   [static_cast<std::ptrdiff_t>(y) * f.strides[static_cast<std::size_t>(plane)] + x];
}

} // namespace

TEST(SyntheticSource, ScrollsAGreyGradientOneLevelPerFrameWithNeutralChroma) {
    std::mutex lock;
    std::vector<CapturedFrame> frames;
    std::vector<std::string> threads;
    SyntheticSource source(1280, 720, [&](const CapturedFrame& f) {
        const std::lock_guard g(lock);
        if (frames.size() < 2) {
            frames.push_back(f);
            threads.push_back(test::currentThreadName());
        }
    });
    EXPECT_EQ(source.width(), 1280);
    EXPECT_EQ(source.height(), 720);
    source.start();
    ASSERT_TRUE(test::waitUntil([&] {
        const std::lock_guard g(lock);
        return frames.size() == 2;
    }));
    const std::lock_guard g(lock);
    EXPECT_EQ(threads[0], "dovrel.synth");
    for (uint64_t t = 0; t < 2; ++t) {
        const CapturedFrame& f = frames[t];
        ASSERT_EQ(f.format, PixelFormat::yuv420p);
        ASSERT_EQ(f.width, 1280);
        ASSERT_EQ(f.height, 720);
        for (int y = 0; y < 720; ++y) {
            const auto expected = static_cast<uint8_t>((static_cast<uint64_t>(y) + t) % 256);
            ASSERT_EQ(at(f, 0, 0, y), expected) << "frame " << t << " row " << y;
            ASSERT_EQ(at(f, 0, 1279, y), expected);
        }
        // Every chroma byte, the row padding included.
        for (int plane = 1; plane <= 2; ++plane)
            for (int y = 0; y < 360; ++y)
                for (int x = 0; x < f.strides[static_cast<std::size_t>(plane)]; ++x)
                    ASSERT_EQ(at(f, plane, x, y), 128);
    }
}

TEST(SyntheticSource, PacesItsFramesAt16Milliseconds) {
    std::mutex lock;
    std::vector<Instant> times;
    SyntheticSource source(64, 64, [&](const CapturedFrame& f) {
        const std::lock_guard g(lock);
        times.push_back(f.capturedAt);
    });
    source.start();
    const auto count = [&] {
        const std::lock_guard g(lock);
        return times.size();
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (count() < 21 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::lock_guard g(lock);
    ASSERT_GE(times.size(), 21u);
    // Never faster than one frame each 16 ms: a frame that came late moves the next ones on, at most
    // one interval is made up, and nothing bursts to catch up. How much slower a busy machine makes
    // it is not the source's doing.
    EXPECT_GE(times[20] - times[0], 20 * SyntheticSource::interval - 2 * SyntheticSource::interval);
    for (std::size_t i = 1; i <= 20; ++i)
        EXPECT_GE(times[i], times[i - 1]);
}

TEST(SyntheticSource, AConsumerHoldingEveryBufferPausesThePatternInsteadOfOverwritingIt) {
    std::mutex lock;
    std::vector<CapturedFrame> held;
    std::vector<int> firstRows;
    std::atomic<bool> holding{true};
    SyntheticSource source(64, 32, [&](const CapturedFrame& f) {
        const std::lock_guard g(lock);
        firstRows.push_back(at(f, 0, 0, 0));
        if (holding) held.push_back(f);
    });
    source.start();
    ASSERT_TRUE(test::waitUntil([&] {
        const std::lock_guard g(lock);
        return held.size() == 3;
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    {
        const std::lock_guard g(lock);
        ASSERT_EQ(firstRows.size(), 3u);    // no fourth buffer, so no frame
        EXPECT_EQ(at(held[0], 0, 0, 0), 0); // and the held ones are untouched
        EXPECT_EQ(at(held[2], 0, 0, 0), 2);
        holding = false;
        held.clear();
    }
    ASSERT_TRUE(test::waitUntil([&] {
        const std::lock_guard g(lock);
        return firstRows.size() >= 5;
    }));
    const std::lock_guard g(lock);
    EXPECT_EQ(firstRows[3], 3); // the pattern goes on where it stopped
    EXPECT_EQ(firstRows[4], 4);
}

TEST(SyntheticSource, MayBeDestroyedFromItsOwnCallbackOrNeverStarted) {
    {
        SyntheticSource idle(16, 16, [](const CapturedFrame&) {});
    }
    std::shared_ptr<SyntheticSource> source;
    std::atomic<int> calls{0};
    source = std::make_shared<SyntheticSource>(16, 16, [&](const CapturedFrame&) {
        if (++calls == 2) source.reset();
    });
    source->start();
    ASSERT_TRUE(test::waitUntil([&] { return calls.load() >= 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(calls.load(), 2);
}
