#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "agent/core/WakeBudget.h"

using dovrel::agent::WakeBudget;

TEST(WakeBudget, AtLeastTwoSecondsApart) {
    WakeBudget b;
    EXPECT_TRUE(b.allow(100.0));
    EXPECT_FALSE(b.allow(101.0));
    EXPECT_FALSE(b.allow(101.999));
    EXPECT_TRUE(b.allow(102.0));
}

TEST(WakeBudget, AtMostTenAMinuteAndRefusalsLeaveNoTrace) {
    WakeBudget b;
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(b.allow(1000.0 + 2.5 * i)) << i;
    EXPECT_FALSE(b.allow(1025.0));
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(b.allow(1026.0 + i));
    // The first stamp is more than 60 s old at 1060.01: room for one more.
    EXPECT_FALSE(b.allow(1060.0));
    EXPECT_TRUE(b.allow(1060.01));
}

TEST(WakeBudget, ConcurrentCallersGetExactlyOneGrantPerInstant) {
    WakeBudget b;
    std::atomic<int> granted = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i)
                granted += b.allow(500.0) ? 1 : 0;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(granted, 1);
}
