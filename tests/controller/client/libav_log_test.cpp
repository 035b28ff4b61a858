#include <gtest/gtest.h>

#include "controller/client/video/LibavLog.h"

using namespace std::chrono_literals;

TEST(LibavLogThrottle, EachKindIsWrittenFirstThenOnceInTenSecondsWithHowManyWereHeldBack) {
    dovrel::controller::LibavLogThrottle t;
    const dovrel::Instant start{100s};
    static const char slices[] = "slices", conceal[] = "conceal";
    EXPECT_EQ(t.admit(slices, "too many slices", start), "too many slices");
    for (int i = 1; i < 100; ++i)
        EXPECT_FALSE(t.admit(slices, "too many slices", start + i * 10ms));
    EXPECT_EQ(t.admit(conceal, "concealing", start + 1s), "concealing"); // its own time
    EXPECT_EQ(t.admit(slices, "too many slices", start + 10s), "too many slices (and 99 more like it)");
}
