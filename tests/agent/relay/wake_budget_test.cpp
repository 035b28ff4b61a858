#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "agent/core/WakeBudget.h"

using dovrel::agent::WakeBudget;

TEST(WakeBudget, KeepsTwoSecondsBetweenWakes) {
    WakeBudget budget;
    const double t0 = 5000.0;
    EXPECT_TRUE(budget.allow(t0));
    EXPECT_FALSE(budget.allow(t0 + 1.0));
    EXPECT_FALSE(budget.allow(t0 + 1.999));
    EXPECT_TRUE(budget.allow(t0 + 2.0)); // measured from the first: the refusal left no stamp
    EXPECT_FALSE(budget.allow(t0 + 2.0));
}

TEST(WakeBudget, TenAMinuteThenTheOldestMustAgeOut) {
    WakeBudget budget;
    const double t0 = 100.0;
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(budget.allow(t0 + 2.5 * i)) << i;
    EXPECT_FALSE(budget.allow(t0 + 25.0));
    EXPECT_FALSE(budget.allow(t0 + 60.0)); // the first stamp is exactly 60 s old: still counted
    EXPECT_TRUE(budget.allow(t0 + 60.001));
    EXPECT_FALSE(budget.allow(t0 + 61.0)); // within 2 s of the last grant
    EXPECT_TRUE(budget.allow(t0 + 62.6));  // the second stamp (102.5) has aged out too
    EXPECT_FALSE(budget.allow(t0 + 64.7)); // eleven granted within the last 60 s would be too many
}

TEST(WakeBudget, AClockThatGoesBackIsRefusedNotCounted) {
    WakeBudget budget(10, 2.0);
    EXPECT_TRUE(budget.allow(50.0));
    EXPECT_FALSE(budget.allow(40.0));
    EXPECT_TRUE(budget.allow(52.0));
}

TEST(WakeBudget, ConcurrentCallersGetExactlyOneGrantPerInstant) {
    WakeBudget budget;
    std::atomic<int> granted = 0;
    std::vector<std::thread> callers;
    for (int t = 0; t < 8; ++t)
        callers.emplace_back([&] {
            for (int i = 0; i < 1000; ++i)
                if (budget.allow(10.0)) ++granted;
        });
    for (auto& c : callers)
        c.join();
    EXPECT_EQ(granted, 1);
    EXPECT_GT(WakeBudget::systemUptime(), 0.0);
}
