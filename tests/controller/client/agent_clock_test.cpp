// Mapping the agent's clock onto ours from ping round trips, and the age of a 32-bit time stamp.
#include <gtest/gtest.h>

#include "controller/client/session/AgentClock.h"

using namespace dovrel::controller;

TEST(AgentClock, TheQuickestRecentRoundTripGivesTheOffset) {
    AgentClock clock;
    EXPECT_FALSE(clock.offsetUs());
    EXPECT_FALSE(clock.ageUs(5, 10));
    // The agent's clock runs 1,000,000 us ahead of ours. A slow round trip (answer late on the way
    // back) misjudges the middle; the quick one does not.
    clock.addSample(10'000, 30'000, 1'000'000 + 10'000 + 5'000); // 20 ms round trip, asymmetric
    EXPECT_EQ(clock.offsetUs(), 1'000'000 + 5'000 - 10'000);
    clock.addSample(50'000, 50'400, 1'000'000 + 50'200);
    EXPECT_EQ(clock.offsetUs(), 1'000'000);
    clock.addSample(90'000, 99'000, 1'000'000 + 94'000);
    EXPECT_EQ(clock.offsetUs(), 1'000'000);
    // An answer before its question is no sample.
    clock.addSample(100, 50, 7);
    EXPECT_EQ(clock.offsetUs(), 1'000'000);
}

TEST(AgentClock, OldSamplesLeaveTheWindowSoTheOffsetFollowsTheAgent) {
    AgentClock clock;
    clock.addSample(0, 100, 5'000 + 50); // very quick, offset 5000
    for (int i = 1; i <= static_cast<int>(AgentClock::window); ++i)
        clock.addSample(i * 1'000'000, i * 1'000'000 + 1'000, 9'000 + i * 1'000'000 + 500); // offset 9000
    EXPECT_EQ(clock.offsetUs(), 9'000);
    clock.clear();
    EXPECT_FALSE(clock.offsetUs());
}

TEST(AgentClock, TheAgeOfATruncatedStampWrapsWithIt) {
    AgentClock clock;
    const uint64_t agentNow = (uint64_t{1} << 32) + 1'000; // just past a wrap of the low 32 bits
    clock.addSample(2'000'000, 2'000'000, agentNow);       // our 2 s is the agent's agentNow
    struct Case {
        uint32_t stamp;
        int64_t nowUs;
        int64_t age;
    };
    for (const Case c : {Case{1'000, 2'000'000, 0}, Case{0xFFFFFC18u, 2'000'000, 2'000}, Case{1'000, 2'012'500, 12'500},
                         Case{5'000, 2'000'000, -4'000}}) {
        EXPECT_EQ(clock.ageUs(c.stamp, c.nowUs), c.age) << c.stamp;
    }
}
