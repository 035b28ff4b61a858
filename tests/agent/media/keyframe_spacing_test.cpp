#include <gtest/gtest.h>

#include "agent/media/KeyframeSpacing.h"

using dovrel::agent::KeyframeSpacing;
using namespace std::chrono_literals;

namespace {

const dovrel::Instant t0{};

// Pictures at 60 a second after a keyframe at t0; returns how many asked for a forced keyframe.
int pictures(KeyframeSpacing& spacing, int count, int& next) {
    int forced = 0;
    for (int i = 0; i < count; ++i, ++next)
        forced += spacing.picture(false, t0 + next * 16ms) ? 1 : 0;
    return forced;
}

} // namespace

TEST(KeyframeSpacing, TheFirstRequestIsGrantedAtOnce) {
    KeyframeSpacing spacing;
    EXPECT_TRUE(spacing.request(t0));
}

TEST(KeyframeSpacing, RequestsSoonAfterAKeyframeWaitAndAreGrantedOnceWhenTheSpacingIsComplete) {
    KeyframeSpacing spacing;
    spacing.picture(true, t0);
    int next = 1;
    EXPECT_EQ(pictures(spacing, 3, next), 0);
    // Three requests inside the spacing (the client repeats them during a loss) make one keyframe.
    EXPECT_FALSE(spacing.request(t0 + 50ms));
    EXPECT_FALSE(spacing.request(t0 + 100ms));
    EXPECT_EQ(pictures(spacing, KeyframeSpacing::minPictures - 4, next), 0);
    EXPECT_FALSE(spacing.request(t0 + 250ms));
    EXPECT_EQ(pictures(spacing, 1, next), 1);
    EXPECT_EQ(pictures(spacing, 30, next), 0);
    // Once spaced, a request is granted directly.
    EXPECT_TRUE(spacing.request(t0 + next * 16ms));
}

TEST(KeyframeSpacing, AKeyframeAnswersWhatWaited) {
    KeyframeSpacing spacing;
    spacing.picture(true, t0);
    EXPECT_FALSE(spacing.request(t0 + 10ms));
    spacing.picture(true, t0 + 20ms); // the encoder's own (a new encoder, or its interval)
    int next = 2;
    EXPECT_EQ(pictures(spacing, 40, next), 0);
}

TEST(KeyframeSpacing, OnAStillScreenAWaitingRequestGoesWithTheNextPictureAfterTheLongestWait) {
    KeyframeSpacing spacing;
    spacing.picture(true, t0);
    EXPECT_FALSE(spacing.request(t0 + 100ms));
    EXPECT_FALSE(spacing.picture(false, t0 + 500ms));
    EXPECT_TRUE(spacing.picture(false, t0 + KeyframeSpacing::maxWait + 1ms));
    EXPECT_TRUE(spacing.request(t0 + KeyframeSpacing::maxWait + 2ms));
}
