#include <gtest/gtest.h>

#include "controller/client/session/SessionLiveness.h"

using namespace std::chrono_literals;
using dovrel::Instant;
using dovrel::controller::SessionLiveness;

namespace {
const Instant start = Instant{} + 100s;
}

TEST(SessionLiveness, NoAnswerCountsBeforeTheFirstPing) {
    SessionLiveness l;
    EXPECT_FALSE(l.answered(start));
    l.tick(start, start + 5s, 0, 0, true);
    const auto pong = l.answered(start + 42ms);
    ASSERT_TRUE(pong);
    EXPECT_EQ(pong->latencyMs, 42);
    EXPECT_EQ(pong->pingSentReal, start + 5s);
}

TEST(SessionLiveness, FramesAndBytesAreCountedPerTickInAndOutOfASession) {
    SessionLiveness l;
    auto t = l.tick(start, start, 30, 1000, false);
    EXPECT_EQ(t.fps, 30);
    EXPECT_EQ(t.receivedBytes, 1000);
    t = l.tick(start + 1s, start, 55, 1500, true);
    EXPECT_EQ(t.fps, 25);
    EXPECT_EQ(t.receivedBytes, 500);
    // A decoder reset counts down: never a negative rate.
    t = l.tick(start + 2s, start, 0, 1500, true);
    EXPECT_EQ(t.fps, 0);
    EXPECT_EQ(t.receivedBytes, 0);
}

TEST(SessionLiveness, AQuietLinkIsReportedOnceFromTheSessionsStartAndAgainOnlyAfterAnotherQuietSpell) {
    SessionLiveness l;
    // Without a session standing, no answer is expected.
    EXPECT_FALSE(l.tick(start, start, 0, 0, true).linkQuiet);
    l.sessionStarted(start);
    EXPECT_FALSE(l.tick(start + 6s, start, 1, 0, true).linkQuiet);
    EXPECT_TRUE(l.tick(start + 6s + 1ms, start, 2, 0, true).linkQuiet);
    EXPECT_FALSE(l.tick(start + 7s, start, 3, 0, true).linkQuiet);
    l.answered(start + 12s);
    EXPECT_FALSE(l.tick(start + 18s, start, 4, 0, true).linkQuiet);
    EXPECT_FALSE(l.tick(start + 30s, start, 5, 0, false).linkQuiet);
}

TEST(SessionLiveness, APictureIsStaleAfterTwoFramelessTicksUntilAFrameArrives) {
    SessionLiveness l;
    l.sessionStarted(start);
    EXPECT_FALSE(l.tick(start + 1s, start, 10, 0, true).pictureStale);
    EXPECT_FALSE(l.tick(start + 2s, start, 10, 0, true).pictureStale);
    EXPECT_TRUE(l.tick(start + 3s, start, 10, 0, true).pictureStale);
    l.answered(start + 3s);
    EXPECT_TRUE(l.tick(start + 4s, start, 10, 0, true).pictureStale);
    EXPECT_FALSE(l.tick(start + 5s, start, 11, 0, true).pictureStale);
    EXPECT_FALSE(l.tick(start + 6s, start, 11, 0, true).pictureStale);
}
