// What a step of the send rate costs the pipeline, on fake sources, fake encoders and a fake clock: a
// lower frame rate leaves captured pictures out, evenly and keeping a still screen's last change, with
// no new capture stream; an encoder that takes a new rate in place gets no rebuild, one that cannot gets
// one built for the rate; an encoder opened below the budget can climb back; a step made while an
// encoder is being built reaches it.

#include "PipelineTestSupport.h"

using namespace dovrel;
using namespace dovrel::test;

namespace {

constexpr auto captureEvery = std::chrono::microseconds(16667); // 60 pictures a second

// A screen in motion, captured at 60 a second for `d`: the pictures handed to an encoder meanwhile.
std::vector<Instant> encodedWhileMoving(PipelineRig& rig, Duration d) {
    std::size_t before = 0;
    {
        const std::lock_guard g(rig.encoders->lock);
        before = rig.encoders->encodedAt.size();
    }
    for (Duration t{}; t < d; t += captureEvery) {
        rig.deliver();
        rig.advance(captureEvery);
    }
    rig.settle();
    const std::lock_guard g(rig.encoders->lock);
    return {rig.encoders->encodedAt.begin() + static_cast<std::ptrdiff_t>(before), rig.encoders->encodedAt.end()};
}

std::vector<std::pair<int64_t, int>> ratesToldTo(PipelineRig& rig, std::size_t encoder) {
    const std::lock_guard g(rig.encoders->lock);
    std::vector<std::pair<int64_t, int>> out;
    for (const auto& [index, rate] : rig.encoders->retargeted)
        if (index == encoder) out.push_back(rate);
    return out;
}

// A session watching, its encoder built and the capture at the session's rate.
void watch(PipelineRig& rig) {
    rig.start();
    rig.rec.streaming = true;
    rig.pipeline->requestKeyframe();
    rig.settle();
}

} // namespace

TEST(SendRate, ALowerFrameRateLeavesPicturesOutEvenlyWithoutANewCaptureStreamAndARaiseBringsThemBack) {
    PipelineRig rig;
    rig.encoders->retargets = true;
    watch(rig);
    const auto cap = rig.capturer();
    const std::size_t fpsChanges = cap->fpsChanges.size();
    const std::size_t built = rig.encoders->count();
    EXPECT_EQ(cap->captureFPS(), 60);
    EXPECT_NEAR(static_cast<double>(encodedWhileMoving(rig, 2s).size()), 120, 2);

    rig.pipeline->applySendRate({3000000, 20});
    const std::vector<Instant> lowered = encodedWhileMoving(rig, 3s);
    EXPECT_NEAR(static_cast<double>(lowered.size()), 60, 2) << "about 20 a second";
    for (std::size_t i = 1; i < lowered.size(); ++i)
        EXPECT_GE(lowered[i] - lowered[i - 1], 43ms) << "evenly spaced, at picture " << i;

    // A change the screen then keeps: it is not lost, but goes in its slot.
    rig.deliver();
    const std::size_t sent = rig.encoders->encodedAt.size();
    rig.advance(captureEvery);
    const Instant last = rig.clock.now();
    rig.deliver();
    rig.settle();
    EXPECT_EQ(rig.encoders->encodedAt.size(), sent) << "too soon after the one before";
    rig.advance(60ms);
    rig.settle();
    ASSERT_EQ(rig.encoders->encodedAt.size(), sent + 1);
    EXPECT_EQ(rig.encoders->encodedAt.back(), last);

    rig.pipeline->applySendRate({12000000, 60});
    EXPECT_NEAR(static_cast<double>(encodedWhileMoving(rig, 2s).size()), 120, 2);

    EXPECT_EQ(cap->fpsChanges.size(), fpsChanges) << "a step is no new capture rate, so no new stream on GNOME";
    EXPECT_EQ(cap->captureFPS(), 60);
    EXPECT_EQ(cap->starts.load(), 1);
    EXPECT_EQ(cap->restarts.load(), 0);
    EXPECT_EQ(rig.encoders->count(), built) << "the encoder took both steps in place";
    EXPECT_EQ(ratesToldTo(rig, built - 1), (std::vector<std::pair<int64_t, int>>{{3000000, 20}, {12000000, 60}}));
}

TEST(SendRate, AnEncoderThatCannotTakeARateIsBuiltForItAndAnX264OneAfterItCanClimbBackToTheBudget) {
    LogCapture log;
    PipelineRig rig({{"DP-1", 0, 0, 1920, 1080, true}}, /*hevcDefault=*/true);
    watch(rig); // HEVC, as a hardware or libx265 encoder would make it: no rate in place
    const std::size_t built = rig.encoders->count();
    rig.pipeline->applySendRate({3000000, 30});
    rig.settle();
    ASSERT_EQ(rig.encoders->count(), built + 1);
    EXPECT_EQ(rig.encoders->last().budget, agent::VideoBudget::lan()) << "the budget stays the ceiling";
    EXPECT_EQ(rig.encoders->last().startBitRate, 3000000);
    EXPECT_EQ(rig.encoders->last().startFrameRate, 30);
    EXPECT_EQ(log.count("⚠︎ rebuilding encoder — the link's rate changed"), 1u);

    // The next session asks for H.264 while the link is slow: x264 opens for the budget and starts at
    // the slow rate, so the next raise is one it can take.
    rig.encoders->retargets = true;
    rig.pipeline->rebuildEncoder(true, "this client decodes only H.264");
    rig.settle();
    ASSERT_EQ(rig.encoders->count(), built + 2);
    EXPECT_TRUE(rig.encoders->last().h264);
    EXPECT_EQ(rig.encoders->last().budget, agent::VideoBudget::lan());
    EXPECT_EQ(rig.encoders->last().startBitRate, 3000000);
    rig.pipeline->applySendRate({12000000, 60});
    rig.settle();
    EXPECT_EQ(rig.encoders->count(), built + 2);
    EXPECT_EQ(ratesToldTo(rig, built + 1), (std::vector<std::pair<int64_t, int>>{{12000000, 60}}));
}

// A step made while the set-up thread builds an encoder (a codec slow to open) reaches that encoder:
// told to it once it stands where it takes a rate in place, else by one more build, and no other.
TEST(SendRate, AStepMadeWhileAnEncoderIsBeingBuiltReachesIt) {
    for (const bool inPlace : {true, false}) {
        SCOPED_TRACE(inPlace ? "in place" : "rebuilt");
        LogCapture log;
        PipelineRig rig;
        rig.encoders->retargets = inPlace;
        watch(rig);
        const std::size_t built = rig.encoders->count();
        rig.encoders->holdStarts = true;
        rig.pipeline->rebuildEncoderFor("a test's rebuild");
        ASSERT_TRUE(waitUntil([&] { return rig.encoders->startsHeld.load() == 1; }));
        rig.pipeline->applySendRate({3000000, 30});
        rig.encoders->holdStarts = false;
        rig.settle();
        ASSERT_EQ(rig.encoders->count(), built + (inPlace ? 1 : 2));
        EXPECT_EQ(rig.encoders->built[built].startBitRate, 12000000) << "read before the step";
        if (inPlace) {
            EXPECT_EQ(ratesToldTo(rig, built), (std::vector<std::pair<int64_t, int>>{{3000000, 30}}));
        } else {
            EXPECT_EQ(rig.encoders->last().startBitRate, 3000000);
            EXPECT_EQ(log.count("⚠︎ rebuilding encoder — the link's rate changed"), 0u)
                << "the build under way made the rate: no build after it";
        }
        EXPECT_EQ(rig.pipeline->sendRate(), (agent::SendRate{3000000, 30}));
    }
}
