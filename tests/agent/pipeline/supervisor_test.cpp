// The capture supervisor on fake sources and a fake clock: set-up retries, the watchdog acting on a
// stalled stream or encoder (and leaving a still screen alone), restarts and their time-out, the codec
// and link a session asked for, rest mode, the capture rate, wake from sleep.

#include "PipelineTestSupport.h"
#include "protocol/VideoPayload.h"

using namespace dovrel;
using namespace dovrel::test;

namespace {

const char* const retryTail = "s (no test display yet)"; // in the capturer's words

std::string retryLine(const std::string& why, int delay) {
    return "⚠︎ capture setup failed: " + why + " — retrying in " + std::to_string(delay) + retryTail;
}

std::vector<wex::VideoNALPayload> picturesFor(PipelineRig& rig, SessionPair& to) {
    const std::lock_guard g(rig.rec.lock);
    std::vector<wex::VideoNALPayload> out;
    for (const auto& frame : std::exchange(rig.rec.relayed, {}))
        if (const auto opened = to.client->openFrame(frame.first))
            out.push_back(wex::decodeVideoNALPayload(opened->plaintext));
    return out;
}

} // namespace

TEST(CaptureSupervisor, SetUpIsRetriedAfterTwoFourEightSixteenAndThenEveryThirtySeconds) {
    LogCapture log;
    PipelineRig rig;
    rig.capturerFails = true;
    rig.start();
    const std::string why = "capture: no display found";
    EXPECT_EQ(log.count(retryLine(why, 2)), 1u);
    for (int waited : {2, 4, 8, 16, 30}) {
        rig.advance(std::chrono::seconds(waited) - 1ms);
        rig.settle();
        const std::size_t before = log.count("capture setup failed");
        rig.advance(1ms);
        rig.settle();
        EXPECT_EQ(log.count("capture setup failed"), before + 1) << "not a moment before " << waited << " s";
    }
    EXPECT_EQ(log.count(retryLine(why, 4)), 1u);
    EXPECT_EQ(log.count(retryLine(why, 16)), 1u);
    EXPECT_EQ(log.count(retryLine(why, 30)), 2u);

    rig.capturerFails = false;
    rig.advance(30s);
    rig.settle();
    EXPECT_TRUE(log.has("• capture 1920×1080"));
    EXPECT_TRUE(log.has("• H.264 encoder ready — no hardware HEVC encoder on this computer"));
    EXPECT_TRUE(log.has("• capture pipeline ready"));
    rig.advance(120s, stillScreen(rig));
    rig.settle();
    EXPECT_EQ(log.count("capture setup failed"), 6u) << "the loop ends once capture stands";
    EXPECT_EQ(rig.encoders->count(), 1u);
}

TEST(CaptureSupervisor, AStillScreenWatchedForAMinuteIsNeverRestartedNorItsEncoderRebuilt) {
    LogCapture log;
    PipelineRig rig;
    rig.start();
    rig.rec.streaming = true;
    rig.pipeline->requestKeyframe();
    rig.advance(60s, stillScreen(rig));
    EXPECT_FALSE(log.has("restarting screen capture"));
    EXPECT_FALSE(log.has("rebuilding encoder"));
    EXPECT_EQ(rig.capturer()->restarts.load(), 0);
    EXPECT_EQ(rig.encoders->count(), 1u);
    EXPECT_EQ(rig.encoders->encodes.load(), 60);
}

TEST(CaptureSupervisor, AnEncoderThatStopsMakingPicturesIsReplacedWithAKeyframeForced) {
    LogCapture log;
    PipelineRig rig;
    rig.start();
    rig.rec.streaming = true;
    rig.advance(10s, stillScreen(rig));
    const agent::VideoEncoder* first = rig.pipeline->currentEncoder().get();
    const uint64_t firstSets = rig.pipeline->sendPath().parameterSetsGeneration();
    rig.encoders->silent = true;
    rig.advance(10s, stillScreen(rig));
    rig.settle(); // the rebuild runs on the set-up thread
    EXPECT_TRUE(log.has("⚠︎ rebuilding encoder — encoder produced nothing for 10s"));
    EXPECT_TRUE(log.has("• encoder rebuilt — fresh keyframe forced"));
    EXPECT_NE(rig.pipeline->currentEncoder().get(), first);
    EXPECT_EQ(rig.encoders->alive.load(), 1) << "the replaced encoder is gone once nobody uses it";
    rig.encoders->silent = false;
    rig.deliver();
    EXPECT_NE(rig.pipeline->sendPath().parameterSetsGeneration(), firstSets)
        << "the new encoder's first picture is a keyframe with its own parameter sets";
}

TEST(CaptureSupervisor, ASilentStreamIsRestartedAndASecondRestartOrARebuildMeanwhileDoNothing) {
    LogCapture log;
    PipelineRig rig;
    rig.start();
    const auto cap = rig.capturer();
    cap->hangRestart = true;
    rig.advance(10s); // nothing from the stream since the start: 10 s is not yet too long
    EXPECT_EQ(cap->restarts.load(), 0);
    rig.advance(5s);
    EXPECT_TRUE(log.has("⚠︎ restarting screen capture — the test's display delivered nothing for 15s"));
    ASSERT_TRUE(waitUntil([&] { return cap->restarts.load() == 1; }));
    EXPECT_TRUE(rig.pipeline->restarting());

    rig.pipeline->restartCapture("asked again");
    rig.pipeline->rebuildEncoderFor("asked meanwhile");
    EXPECT_FALSE(log.has("asked again"));
    EXPECT_FALSE(log.has("asked meanwhile"));

    cap->release();
    ASSERT_TRUE(waitUntil([&] { return !rig.pipeline->restarting(); }));
    EXPECT_TRUE(log.has("• capture restarted — 1920×1080, fresh keyframe forced"));
    EXPECT_EQ(cap->restarts.load(), 1);
    EXPECT_EQ(rig.encoders->count(), 2u);
    EXPECT_TRUE(rig.pipeline->currentEncoder()->keyframePending());
}

TEST(CaptureSupervisor, ARestartThatHangsIsGivenUpAfterTwentySecondsAndCaptureIsBuiltAfresh) {
    LogCapture log;
    PipelineRig rig;
    rig.start();
    const auto stuck = rig.capturer();
    stuck->hangRestart = true;
    rig.pipeline->restartCapture("test");
    ASSERT_TRUE(waitUntil([&] { return stuck->restarts.load() == 1; }));
    rig.advance(20s - 1ms);
    EXPECT_TRUE(rig.pipeline->restarting());
    rig.advance(1ms);
    rig.settle();
    EXPECT_TRUE(log.has("• capture restart FAILED: timed out after 20s — will retry"));
    EXPECT_FALSE(rig.pipeline->restarting());
    ASSERT_EQ(rig.allCapturers().size(), 2u) << "a new set-up loop made a new capturer";
    EXPECT_EQ(rig.pipeline->capturer(), rig.allCapturers()[1]);
    EXPECT_EQ(log.count("• capture pipeline ready"), 2u);

    stuck->stopBySystem(); // its stream ends as the new capturer takes the desktop over: no restart of that one
    EXPECT_FALSE(rig.pipeline->restarting());
    EXPECT_FALSE(log.has("stream stopped by the system"));

    stuck->release(); // the abandoned restart ends late and changes nothing
    rig.settle();
    EXPECT_EQ(rig.pipeline->capturer(), rig.allCapturers()[1]);
    EXPECT_EQ(log.count("• capture restarted"), 0u);
}

TEST(CaptureSupervisor, TheCodecASessionAskedForSurvivesRestartsAndARebuiltPipeline) {
    LogCapture log;
    PipelineRig rig(twoMonitors(), true);
    rig.start();
    EXPECT_FALSE(rig.pipeline->defaultH264());
    EXPECT_FALSE(rig.encoders->last().h264);
    EXPECT_TRUE(log.has("• HEVC encoder ready"));

    rig.pipeline->rebuildEncoder(true, "this client cannot decode HEVC");
    rig.pipeline->waitForSetup();
    EXPECT_TRUE(log.has("⚠︎ rebuilding encoder — this client cannot decode HEVC"));
    EXPECT_TRUE(rig.encoders->last().h264);

    rig.pipeline->restartCapture("test");
    ASSERT_TRUE(log.waitFor("• capture restarted"));
    ASSERT_TRUE(waitUntil([&] { return !rig.pipeline->restarting(); }));
    EXPECT_TRUE(rig.encoders->last().h264) << "a restart keeps the session's codec";

    rig.capturer()->failRestart = true;
    rig.pipeline->restartCapture("test again");
    ASSERT_TRUE(log.waitFor("• capture restart FAILED: capture: the display went away — will retry"));
    ASSERT_TRUE(waitUntil([&] { return rig.allCapturers().size() == 2 && rig.pipeline->capturer() != nullptr; }));
    rig.settle();
    EXPECT_TRUE(rig.encoders->last().h264) << "so does a pipeline built again";
    EXPECT_TRUE(log.has("• H.264 encoder ready"));

    rig.pipeline->rebuildEncoder(false, "back to HEVC for this client");
    rig.pipeline->waitForSetup();
    EXPECT_FALSE(rig.encoders->last().h264);
    const std::size_t built = rig.encoders->count();
    rig.pipeline->rebuildEncoder(false, "back to HEVC for this client");
    rig.pipeline->waitForSetup();
    EXPECT_EQ(rig.encoders->count(), built) << "already HEVC: nothing to rebuild";
    EXPECT_EQ(log.count("⚠︎ rebuilding encoder — back to HEVC for this client"), 1u);
}

TEST(CaptureSupervisor, AClientGetsPicturesOnlyInTheCodecAndBudgetItAskedForAndAKeyframeFirst) {
    PipelineRig rig(twoMonitors(), true);
    rig.start();
    SessionPair first, next;
    rig.rec.setTarget(first.agent, nullptr, true);
    rig.encoders->holdStarts = true; // the client's encoder takes its time to open
    // An H.264-only client on the relay, admitted as the session core admits it.
    rig.pipeline->rebuildEncoder(true, "this client cannot decode HEVC");
    rig.pipeline->applyLinkBudget(true);
    rig.rec.streaming = true;
    rig.pipeline->requestKeyframe();
    ASSERT_TRUE(waitUntil([&] { return rig.encoders->startsHeld > 0; }));
    for (int i = 0; i < 3; ++i)
        rig.deliver();
    EXPECT_TRUE(picturesFor(rig, first).empty()) << "nothing from the HEVC encoder at the local network's budget";
    rig.encoders->holdStarts = false;
    rig.settle();
    for (int i = 0; i < 3; ++i)
        rig.deliver();
    auto got = picturesFor(rig, first);
    ASSERT_EQ(got.size(), 3u);
    const wex::NALFlags keyframe{wex::NALFlag::keyframe, wex::NALFlag::config, wex::NALFlag::codecH264};
    EXPECT_EQ(got[0].header.nalFlags, keyframe);
    EXPECT_EQ(got[0].nals, (std::vector<wex::Bytes>{{0x67, 0x01}, {0x68, 0x02}, {0x65, 0x88, 25}}));
    EXPECT_EQ(got[2].header.nalFlags, wex::NALFlags{wex::NALFlag::codecH264});
    EXPECT_EQ(got[2].nals, (std::vector<wex::Bytes>{{0x65, 0x88, 25}})) << "at the relay's 2.5 Mbit/s";

    // The next client, on the same link, sooner than the keyframe spacing grants another keyframe.
    rig.rec.setTarget(next.agent, nullptr, true);
    rig.pipeline->requestKeyframe();
    rig.deliver();
    rig.deliver();
    got = picturesFor(rig, next);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0].header.nalFlags, keyframe) << "its first picture is a keyframe too";
}

TEST(CaptureSupervisor, ASessionIsKeyedOnlyByAKeyframeThatWentOut) {
    PipelineRig rig;
    rig.start();
    SessionPair s;
    UdpSink sink;
    rig.rec.setTarget(s.agent, nullptr); // admitted before its video route is known
    rig.rec.streaming = true;
    rig.deliver(); // the encoder's first picture, a keyframe, with nowhere to go
    rig.rec.setTarget(s.agent, sink.sender());
    for (int i = 0; i < 4; ++i)
        rig.deliver();
    std::vector<wex::VideoNALPayload> got;
    for (const wex::Bytes& datagram : sink.drain())
        if (const auto opened = s.client->openFrame(datagram))
            got.push_back(wex::decodeVideoNALPayload(opened->plaintext));
    ASSERT_GE(got.size(), 2u);
    EXPECT_TRUE(got[0].header.nalFlags.contains(wex::NALFlag::keyframe))
        << "nothing the client could not decode came before a keyframe reached it";
    EXPECT_EQ(got[0].nals.front(), (wex::Bytes{0x67, 0x01})) << "with its parameter sets";
    EXPECT_FALSE(got.back().header.nalFlags.contains(wex::NALFlag::keyframe)) << "and then predicted pictures";
}

TEST(CaptureSupervisor, ACodecAskedForWhileARestartBuildsItsEncoderIsAppliedWhenItEnds) {
    LogCapture log;
    PipelineRig rig(twoMonitors(), true);
    rig.start();
    rig.capturer()->hangRestart = true;
    rig.pipeline->restartCapture("test");
    ASSERT_TRUE(waitUntil([&] { return rig.capturer()->restarts.load() == 1; }));
    rig.pipeline->rebuildEncoder(true, "this client cannot decode HEVC");
    rig.capturer()->release();
    ASSERT_TRUE(waitUntil([&] { return !rig.pipeline->restarting(); }));
    EXPECT_TRUE(rig.encoders->last().h264);
    EXPECT_TRUE(rig.pipeline->useH264());
}

// A change of link still queued behind a slow encoder build when the pipeline goes is dropped with it,
// and the pipeline goes without a crash.
TEST(CaptureSupervisor, ALinkChangeQueuedWhenThePipelineGoesIsDroppedWithIt) {
    LogCapture log;
    PipelineRig rig;
    rig.start();
    rig.encoders->holdStarts = true;
    rig.pipeline->applyLinkBudget(true);
    ASSERT_TRUE(waitUntil([&] { return rig.encoders->startsHeld > 0; }));
    rig.pipeline->applyLinkBudget(false); // queued behind the build that is held
    std::thread going([&] { rig.pipeline.reset(); });
    // The pipeline has begun to go (it lets go of its wake hook first); then the build may end.
    ASSERT_TRUE(waitUntil([&] {
        const std::lock_guard g(rig.power->lock);
        return !rig.power->onWake;
    }));
    rig.encoders->holdStarts = false;
    going.join();
    EXPECT_FALSE(log.has("this client is on the LAN"));
}

// Another thread that keeps asking for link changes and rebuilds while the pipeline goes finds its
// queues closed, not gone. It stops as the pipeline lets go of its capturer, its last step before the
// encoder, after everything that ends its threads.
TEST(CaptureSupervisor, ThePipelineGoesWhileAnotherThreadKeepsPostingLinkChanges) {
    LogCapture log;
    for (int round = 0; round < 100; ++round) {
        PipelineRig rig;
        rig.start();
        std::atomic<bool> stop{false};
        std::atomic<int> posts{0};
        std::thread poster([&, pipeline = rig.pipeline.get()] {
            for (bool relay = true; !stop; relay = !relay, ++posts) {
                pipeline->applyLinkBudget(relay);
                pipeline->rebuildEncoderFor("the test asks");
                pipeline->stopSessionReports();
            }
        });
        {
            const std::lock_guard g(rig.lock); // the pipeline's reference is the last one
            rig.capturers.back()->onGone = [&] {
                stop = true;
                poster.join();
            };
            rig.capturers.clear();
        }
        EXPECT_TRUE(waitUntil([&] { return posts > 20; }));
        rig.pipeline.reset();
        ASSERT_FALSE(poster.joinable());
    }
}

TEST(CaptureSupervisor, TheLinkBudgetIsAppliedOncePerChangeWithTheCaptureRateAtOnce) {
    LogCapture log;
    PipelineRig rig;
    rig.start();
    rig.rec.streaming = true;
    EXPECT_EQ(rig.encoders->last().budget, agent::VideoBudget::lan());
    rig.pipeline->applyLinkBudget(false);
    rig.pipeline->waitForSetup();
    EXPECT_EQ(rig.encoders->count(), 1u);

    rig.pipeline->applyLinkBudget(true);
    rig.pipeline->applyLinkBudget(true);
    rig.pipeline->waitForSetup();
    EXPECT_EQ(rig.encoders->count(), 2u);
    EXPECT_EQ(rig.encoders->last().budget, agent::VideoBudget::relay());
    EXPECT_EQ(log.count("⚠︎ rebuilding encoder — this client is on the relay — encoding for it"), 1u);
    EXPECT_EQ(rig.capturer()->captureFPS(), 30);

    rig.pipeline->applyLinkBudget(false);
    rig.pipeline->waitForSetup();
    EXPECT_EQ(rig.encoders->last().budget, agent::VideoBudget::lan());
    EXPECT_TRUE(log.has("⚠︎ rebuilding encoder — this client is on the LAN — full quality"));
    EXPECT_EQ(rig.capturer()->captureFPS(), 60);
}

TEST(CaptureSupervisor, NobodyWatchingTheCaptureSlowsToOnePictureASecondAndAClientGetsTheFullRateAtOnce) {
    PipelineRig rig;
    rig.start();
    rig.advance(5s);
    EXPECT_EQ(rig.capturer()->captureFPS(), agent::CapturePipeline::idleCaptureFPS);
    rig.rec.streaming = true;
    rig.pipeline->requestKeyframe();
    EXPECT_EQ(rig.capturer()->captureFPS(), 60);
    EXPECT_EQ(rig.capturer()->frameRequests.load(), 1) << "a still screen delivers the keyframe now";
    EXPECT_TRUE(rig.pipeline->currentEncoder()->keyframePending());
}

TEST(CaptureSupervisor, LostPicturesAreRepairedInRefreshWavesUntilTheLossesStop) {
    LogCapture log;
    PipelineRig rig;
    rig.start();
    rig.rec.streaming = true;
    const auto picture = [&] { rig.capturer()->deliver(rig.clock.now()); };
    // A desktop in motion, a picture every 16 ms.
    const auto moving = [&](int pictures) {
        for (int i = 0; i < pictures; ++i) {
            rig.onTimerThread(picture);
            rig.advance(16ms);
        }
    };
    moving(2);
    const std::size_t built = rig.encoders->count();
    EXPECT_FALSE(rig.encoders->last().repairsLosses);

    // The first loss: an encoder that repairs, whose first picture is a keyframe.
    rig.pipeline->repairPicture();
    rig.pipeline->waitForSetup();
    ASSERT_EQ(rig.encoders->count(), built + 1);
    EXPECT_TRUE(rig.encoders->last().repairsLosses);
    EXPECT_TRUE(rig.pipeline->currentEncoder()->keyframePending());
    EXPECT_TRUE(log.has("⚠︎ rebuilding encoder — pictures are being lost — repairing them in refresh waves"));

    // The next: the waves repair, no keyframe; they move only with pictures, so the screen is captured
    // at the rate until the next whole wave after this one has passed.
    rig.advance(4s, picture);
    moving(2);
    rig.pipeline->repairPicture();
    rig.pipeline->waitForSetup();
    EXPECT_EQ(rig.encoders->count(), built + 1);
    EXPECT_FALSE(rig.pipeline->currentEncoder()->keyframePending());
    EXPECT_EQ(rig.capturer()->captureFPS(), 60);
    EXPECT_EQ(rig.capturer()->framesKept.load(), 8);

    // Ten seconds without a loss: the plain encoder again.
    rig.advance(9s, picture);
    rig.settle();
    EXPECT_EQ(rig.encoders->count(), built + 1);
    rig.advance(6s, picture);
    rig.settle();
    ASSERT_EQ(rig.encoders->count(), built + 2);
    EXPECT_FALSE(rig.encoders->last().repairsLosses);
    EXPECT_TRUE(log.has("⚠︎ rebuilding encoder — no picture lost for 10 s — back to keyframes"));

    // An encoder that cannot refresh (a hardware one) repairs with keyframes.
    rig.encoders->refreshPeriod = 0;
    moving(2);
    rig.pipeline->repairPicture();
    rig.pipeline->waitForSetup();
    ASSERT_EQ(rig.encoders->count(), built + 3);
    rig.advance(2s, picture);
    rig.advance(1100ms); // the keyframe spacing's longest wait since the last one
    rig.pipeline->repairPicture();
    EXPECT_TRUE(rig.pipeline->currentEncoder()->keyframePending());
    EXPECT_EQ(rig.encoders->count(), built + 3);
}

TEST(CaptureSupervisor, AFullLinkBringsTheRateDownAndAPictureTooLateForThePaceIsLeftOutUntilAKeyframe) {
    PipelineRig rig;
    rig.start();
    SessionPair s;
    UdpSink sink;
    rig.rec.setTarget(s.agent, sink.sender());
    rig.rec.streaming = true;
    rig.pipeline->applyLinkBudget(false);
    rig.pipeline->requestKeyframe(); // the client joins
    rig.pipeline->startSessionReports();
    rig.settle();
    // The handshake measured a quick way; then the video fills a queue of 50 ms in front of the link,
    // and the client asks for keyframes for the pictures it loses there: down to the floor.
    std::chrono::microseconds smoothed{1000};
    rig.rec.setControlLink({smoothed, 0});
    for (int ms = 0; ms < 20000 && rig.pipeline->sendRate().bitRate > agent::LinkRate::floorBitRate; ms += 16) {
        rig.onTimerThread([&] { rig.capturer()->deliver(rig.clock.now()); });
        rig.advance(16ms);
        if (ms % 400 < 16) {
            smoothed += (80ms - smoothed) / 8;
            rig.rec.setControlLink({smoothed, 0});
        }
        if (ms % 304 < 16) rig.pipeline->repairPicture();
    }
    rig.settle();
    ASSERT_EQ(rig.pipeline->sendRate().bitRate, agent::LinkRate::floorBitRate);

    // Paced now: a picture that could not leave within the pace's bound is left out whole, before it is
    // numbered (the client sees no gap), and the encoder is asked for a picture to start again from.
    const auto nextPicture = [&](std::size_t bytes) {
        rig.encoders->pictureBytes = bytes;
        rig.advance(300ms); // as far apart as the floor's picture rate lets them through
        rig.deliver();
        rig.settle();
    };
    for (int i = 0; i < 3; ++i)
        nextPicture(100);
    ASSERT_FALSE(rig.pipeline->currentEncoder()->keyframePending());
    const uint32_t numbered = rig.pipeline->sendPath().lastFrameId();
    nextPicture(2'000'000);
    EXPECT_EQ(rig.pipeline->sendPath().lastFrameId(), numbered);
    EXPECT_TRUE(rig.pipeline->currentEncoder()->keyframePending());
    nextPicture(100);
    EXPECT_EQ(rig.pipeline->sendPath().lastFrameId(), numbered + 1);
}

TEST(CaptureSupervisor, AskingForAKeyframeAsAClientJoinsOrOverAStillScreenIsNoLoss) {
    PipelineRig rig;
    rig.start();
    rig.rec.streaming = true;
    const std::size_t built = rig.encoders->count();
    const auto picture = [&] { rig.capturer()->deliver(rig.clock.now()); };
    // A still screen: a picture a second. The client asks, and gets a keyframe as before.
    rig.advance(3s, picture);
    rig.pipeline->repairPicture();
    rig.pipeline->waitForSetup();
    EXPECT_TRUE(rig.pipeline->currentEncoder()->keyframePending());
    EXPECT_EQ(rig.encoders->count(), built);

    // A client joins a desktop in motion and asks for its first picture too.
    rig.onTimerThread(picture);
    rig.advance(16ms);
    rig.onTimerThread(picture);
    rig.pipeline->requestKeyframe();
    rig.advance(16ms);
    rig.onTimerThread(picture);
    rig.pipeline->repairPicture();
    rig.pipeline->waitForSetup();
    EXPECT_EQ(rig.encoders->count(), built);
    // Its window opens a few seconds later, on a slow desktop, and asks again.
    rig.advance(3s);
    rig.onTimerThread(picture);
    rig.advance(16ms);
    rig.onTimerThread(picture);
    rig.pipeline->repairPicture();
    rig.pipeline->waitForSetup();
    EXPECT_EQ(rig.encoders->count(), built);
}

TEST(CaptureSupervisor, RestModeTurnsTheDisplayOffOnceAndTheWatchdogRestsWithIt) {
    LogCapture log;
    PipelineRig rig;
    rig.start();
    rig.pipeline->setRest(true);
    rig.pipeline->setRest(true);
    EXPECT_TRUE(rig.pipeline->resting());
    EXPECT_EQ(rig.power->all(), (std::vector<std::string>{"rest"}));
    EXPECT_EQ(log.count("• resting — display off, staying reachable on the relay"), 1u);

    rig.advance(60s); // the stream says nothing, but nobody watches a resting display
    EXPECT_FALSE(log.has("restarting screen capture"));

    rig.pipeline->setRest(false);
    rig.pipeline->setRest(false);
    EXPECT_EQ(rig.power->all(), (std::vector<std::string>{"rest", "wake"}));
    EXPECT_EQ(log.count("• leaving rest — display on"), 1u);
    const std::lock_guard g(rig.rec.lock);
    EXPECT_EQ(rig.rec.restingReports, (std::vector<bool>{true, false}));
}

TEST(CaptureSupervisor, WakingFromSleepAndAStreamTheSystemStoppedRestartCapture) {
    LogCapture log;
    PipelineRig rig;
    rig.start();
    std::function<void()> wake;
    {
        const std::lock_guard g(rig.power->lock);
        wake = rig.power->onWake;
    }
    ASSERT_TRUE(wake);
    wake();
    ASSERT_TRUE(log.waitFor("• capture restarted"));
    EXPECT_TRUE(log.has("⚠︎ restarting screen capture — woke from sleep"));
    ASSERT_TRUE(waitUntil([&] { return !rig.pipeline->restarting(); }));

    rig.capturer()->stopBySystem();
    EXPECT_TRUE(log.has("⚠︎ restarting screen capture — stream stopped by the system"));
    ASSERT_TRUE(waitUntil([&] { return rig.capturer()->restarts.load() == 2 && !rig.pipeline->restarting(); }));
}

TEST(CaptureSupervisor, AnEncoderThatWouldNotStartAtSetUpIsRepairedOnceAClientWatches) {
    LogCapture log;
    PipelineRig rig;
    rig.encoders->failStart = true;
    rig.start();
    EXPECT_TRUE(log.has(retryLine("encoder: avcodec_open2 libx264: no such encoder", 2)));
    EXPECT_NE(rig.pipeline->capturer(), nullptr) << "the capture stays";
    rig.encoders->failStart = false;
    rig.advance(2s);
    rig.settle();
    EXPECT_EQ(log.count("capture setup failed"), 1u) << "a capture exists: the loop ends";
    EXPECT_EQ(rig.pipeline->currentEncoder(), nullptr);

    rig.rec.streaming = true;
    rig.advance(15s, stillScreen(rig));
    rig.settle(); // the rebuild runs on the set-up thread
    EXPECT_TRUE(log.has("• encoder rebuilt — fresh keyframe forced"));
    EXPECT_NE(rig.pipeline->currentEncoder(), nullptr);
}
