#include <gtest/gtest.h>

#include "controller/client/LibavLog.h"

using namespace std::chrono_literals;
using dovrel::Instant;
using dovrel::controller::LibavLogThrottle;

TEST(LibavLogThrottle, EachKindIsWrittenFirstThenOnceInTenSecondsWithHowManyWereHeldBack) {
    LibavLogThrottle t;
    const Instant start = Instant{} + 100s;
    static const char slices[] = "slices", conceal[] = "conceal";
    EXPECT_EQ(t.admit(slices, "too many slices", start), "too many slices");
    int written = 0;
    for (int i = 1; i < 100; ++i)
        written += t.admit(slices, "too many slices", start + i * 10ms).has_value() ? 1 : 0;
    EXPECT_EQ(written, 0);
    // Another kind keeps its own time.
    EXPECT_EQ(t.admit(conceal, "concealing", start + 1s), "concealing");
    EXPECT_EQ(t.admit(slices, "too many slices", start + 10s), "too many slices (and 99 more like it)");
    EXPECT_FALSE(t.admit(slices, "too many slices", start + 19s));
    EXPECT_EQ(t.admit(slices, "too many slices", start + 20s), "too many slices (and 1 more like it)");
    // A flood of kinds starts the count afresh instead of growing without end.
    static char many[LibavLogThrottle::maxKinds + 1];
    for (char& k : many)
        EXPECT_TRUE(t.admit(&k, "one of many", start + 21s));
    EXPECT_TRUE(t.admit(slices, "too many slices", start + 21s));
}
