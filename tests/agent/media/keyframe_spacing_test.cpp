#include <gtest/gtest.h>

#include "agent/media/KeyframeSpacing.h"

using dovrel::agent::KeyframeSpacing;
using namespace std::chrono_literals;

// The client repeats its request during a loss: requests soon after a keyframe make one keyframe, at
// the picture that completes the spacing; on a still screen a waiting request goes after the longest wait.
TEST(KeyframeSpacing, RequestsTooSoonAfterAKeyframeWaitAndMakeOneKeyframe) {
    const dovrel::Instant t0{};
    KeyframeSpacing spacing;
    EXPECT_TRUE(spacing.request(t0));
    spacing.picture(true, t0);
    EXPECT_FALSE(spacing.request(t0 + 20ms));
    EXPECT_FALSE(spacing.request(t0 + 250ms));
    int forced = 0, at = 0;
    for (int i = 1; i <= 60; ++i)
        if (spacing.picture(false, t0 + i * 16ms)) {
            ++forced;
            at = i;
        }
    EXPECT_EQ(forced, 1);
    EXPECT_EQ(at, KeyframeSpacing::minPictures);

    spacing.picture(true, t0 + 2s);
    EXPECT_FALSE(spacing.request(t0 + 2s + 100ms));
    EXPECT_FALSE(spacing.picture(false, t0 + 2s + 500ms));
    EXPECT_TRUE(spacing.picture(false, t0 + 2s + KeyframeSpacing::maxWait));
}
