// The capture watchdog's rules, one view at a time.

#include <gtest/gtest.h>

#include "agent/media/CaptureWatchdog.h"

using namespace dovrel;
using namespace dovrel::agent;
using namespace std::chrono_literals;
using Act = WatchdogVerdict::Act;

namespace {

// A healthy screen capture that a client watches.
WatchdogView watched() {
    WatchdogView v;
    v.haveCapturer = true;
    v.source = "GNOME's screen cast through PipeWire";
    v.streaming = true;
    v.streamingAtLastTick = true;
    v.sinceStream = 16ms;
    v.sinceCapture = 16ms;
    v.sinceEncode = 20ms;
    return v;
}

} // namespace

TEST(WatchdogRules, AHealthyCaptureIsLeftAloneAlsoWhenTheScreenKeepsStill) {
    EXPECT_EQ(watchdogVerdict(watched()).act, Act::nothing);
    // A still screen: one picture a second, each encoded.
    WatchdogView still = watched();
    still.sinceStream = 900ms;
    still.sinceCapture = 1900ms;
    still.sinceEncode = 1900ms;
    EXPECT_EQ(watchdogVerdict(still).act, Act::nothing);
}

TEST(WatchdogRules, ASilentStreamIsRestartedWhetherOrNotAClientWatches) {
    for (bool streaming : {true, false}) {
        WatchdogView v = watched();
        v.streaming = streaming;
        v.sinceStream = 11500ms;
        EXPECT_EQ(
            watchdogVerdict(v),
            (WatchdogVerdict{Act::restartCapture, "GNOME's screen cast through PipeWire delivered nothing for 11s"}));
    }
    WatchdogView v = watched();
    v.sinceStream = 10s;
    EXPECT_EQ(watchdogVerdict(v).act, Act::nothing) << "more than 10 s, not 10";
}

TEST(WatchdogRules, AnEncoderThatMakesNothingFromArrivingPicturesIsRebuilt) {
    WatchdogView v = watched();
    v.sinceCapture = 500ms;
    v.sinceEncode = 6200ms;
    EXPECT_EQ(watchdogVerdict(v), (WatchdogVerdict{Act::rebuildEncoder, "encoder produced nothing for 6s"}));

    v.streamingAtLastTick = false;
    EXPECT_EQ(watchdogVerdict(v).act, Act::nothing) << "a session that just began has not had a picture yet";
    v.streamingAtLastTick = true;
    v.streaming = false;
    EXPECT_EQ(watchdogVerdict(v).act, Act::nothing) << "nobody watches: nothing is encoded";
    v.streaming = true;
    v.sinceCapture = 3s;
    EXPECT_EQ(watchdogVerdict(v).act, Act::nothing) << "no recent picture: not the encoder's fault";
}

TEST(WatchdogRules, NoPictureAndNoOutputForFifteenSecondsRestartsCaptureForAWatchingClient) {
    WatchdogView v = watched();
    v.sinceStream = 2s; // audio still arrives
    v.sinceCapture = 16s;
    v.sinceEncode = 16s;
    EXPECT_EQ(watchdogVerdict(v),
              (WatchdogVerdict{Act::restartCapture, "a client is watching but nothing has been captured for 16s"}));
    v.streaming = false;
    EXPECT_EQ(watchdogVerdict(v).act, Act::nothing);
}

TEST(WatchdogRules, RestartsRestingAndMissingSourcesComeFirst) {
    WatchdogView stale = watched();
    stale.sinceStream = stale.sinceCapture = stale.sinceEncode = 60s;

    WatchdogView v = stale;
    v.restarting = true;
    EXPECT_EQ(watchdogVerdict(v).act, Act::nothing);

    v = stale;
    v.haveCapturer = false;
    EXPECT_EQ(watchdogVerdict(v).act, Act::revive);

    v = stale;
    v.resting = true;
    v.streaming = false;
    EXPECT_EQ(watchdogVerdict(v).act, Act::nothing) << "resting with nobody watching: no checks";
    v.streaming = true;
    EXPECT_EQ(watchdogVerdict(v).act, Act::restartCapture) << "resting but watched: checked";
}

TEST(WatchdogRules, TheSyntheticSourceHasNoStreamToGoSilentButItsEncoderIsWatched) {
    WatchdogView v = watched();
    v.haveCapturer = false;
    v.haveSynthetic = true;
    v.sinceStream = 3600s; // never stamped
    EXPECT_EQ(watchdogVerdict(v).act, Act::nothing);
    v.sinceEncode = 7s;
    EXPECT_EQ(watchdogVerdict(v).act, Act::rebuildEncoder);
}
