#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "../../support/TempHome.h"
#include "agent/media/SystemStats.h"

using namespace dovrel;
using namespace dovrel::agent;

namespace {

// /proc/stat as a 4.x+ kernel writes it: user nice system idle iowait irq softirq steal guest guest_nice.
std::string stat(uint64_t user, uint64_t nice, uint64_t system, uint64_t idle, uint64_t iowait = 0, uint64_t irq = 0,
                 uint64_t softirq = 0, uint64_t steal = 0) {
    return "cpu  " + std::to_string(user) + " " + std::to_string(nice) + " " + std::to_string(system) + " " +
           std::to_string(idle) + " " + std::to_string(iowait) + " " + std::to_string(irq) + " " +
           std::to_string(softirq) + " " + std::to_string(steal) + " 0 0\n" +
           "cpu0 1 2 3 4 5 6 7 8 0 0\nintr 12345 1 2 3\nctxt 99\nbtime 1700000000\nprocs_running 2\n";
}

std::string meminfo(uint64_t totalKiB, uint64_t availableKiB) {
    return "MemTotal:       " + std::to_string(totalKiB) +
           " kB\nMemFree:          123456 kB\nMemAvailable:   " + std::to_string(availableKiB) +
           " kB\nBuffers:          100 kB\nCached:         2000 kB\n";
}

} // namespace

TEST(SystemStats, ParsesTheAggregateProcessorLine) {
    const auto t = parseProcStat(stat(100, 20, 30, 800, 40, 5, 6, 7));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->busy, 100u + 20 + 30 + 5 + 6 + 7);
    EXPECT_EQ(t->total, t->busy + 800 + 40);
    // Old kernels write only four fields.
    EXPECT_EQ(parseProcStat("cpu 1 2 3 4\n"), (CpuTicks{6, 10}));
}

TEST(SystemStats, RefusesTextWithoutTheFigures) {
    for (const char* bad : {"", "cpu0 1 2 3 4\n", "cpu  1 2 3\n", "cpu  1 2 x 4\n", "cpu  -1 2 3 4\n",
                            "intr 1\ncpu  99999999999999999999999 1 1 1\n", "xcpu  1 2 3 4\n"})
        EXPECT_EQ(parseProcStat(bad), std::nullopt) << bad;
    EXPECT_EQ(parseMeminfo(""), std::nullopt);
    EXPECT_EQ(parseMeminfo("MemFree: 10 kB\n"), std::nullopt);
    EXPECT_EQ(parseMeminfo("MemTotal: lots kB\n"), std::nullopt);
    EXPECT_EQ(parseMeminfo("MemTotal: 99999999999999999 kB\nMemAvailable: 1 kB\n"), std::nullopt);
}

TEST(SystemStats, MemoryInUseIsTotalLessAvailable) {
    EXPECT_EQ(parseMeminfo(meminfo(1000, 250)), (MemoryUse{1024000, 768000}));
    // Before MemAvailable existed: free + buffers + cache.
    EXPECT_EQ(parseMeminfo("MemTotal: 1000 kB\nMemFree: 100 kB\nBuffers: 50 kB\nCached: 350 kB\n"),
              (MemoryUse{1024000, 512000}));
    // More available than total (a racing read) is not negative use.
    EXPECT_EQ(parseMeminfo(meminfo(1000, 2000)), (MemoryUse{1024000, 0}));
}

TEST(SystemStats, ProcessorLoadIsMeasuredBetweenSamples) {
    SystemStats s("/nonexistent", "/nonexistent");
    EXPECT_EQ(s.sampleFrom(stat(100, 0, 0, 900), meminfo(1000, 600)), (SystemStats::Sample{0, 40}));
    // 30 busy of 100 ticks.
    EXPECT_EQ(s.sampleFrom(stat(120, 5, 5, 970), meminfo(1000, 600)).cpu, 30);
    // No ticks passed: 0.
    EXPECT_EQ(s.sampleFrom(stat(120, 5, 5, 970), meminfo(1000, 600)).cpu, 0);
    // Entirely busy: 100, never more (busy ticks counted in two fields at once cannot push it over).
    EXPECT_EQ(s.sampleFrom(stat(220, 5, 5, 970), meminfo(1000, 600)).cpu, 100);
    // 1 of 3 ticks: whole percent, truncated.
    EXPECT_EQ(s.sampleFrom(stat(221, 5, 5, 972), meminfo(1000, 600)).cpu, 33);
}

TEST(SystemStats, AFailedReadKeepsThePreviousFiguresAndTheOtherHalf) {
    SystemStats s("/nonexistent", "/nonexistent");
    s.sampleFrom(stat(100, 0, 0, 900), meminfo(1000, 500));
    // Processor counters unreadable: cpu 0, memory still reported, previous ticks kept.
    EXPECT_EQ(s.sampleFrom(std::nullopt, meminfo(1000, 500)), (SystemStats::Sample{0, 50}));
    EXPECT_EQ(s.sampleFrom("garbage", meminfo(1000, 500)), (SystemStats::Sample{0, 50}));
    EXPECT_EQ(s.sampleFrom(stat(150, 0, 0, 950), std::nullopt), (SystemStats::Sample{50, 0}));
    EXPECT_EQ(s.sampleFrom(stat(150, 0, 0, 1050), "MemTotal: 0 kB\nMemAvailable: 0 kB\n"), (SystemStats::Sample{0, 0}));
}

TEST(SystemStats, CountersThatRunBackwardsReportNoLoad) {
    SystemStats s("/nonexistent", "/nonexistent");
    s.sampleFrom(stat(500, 0, 0, 500), std::nullopt);
    // A processor went offline: busy fell while total rose.
    EXPECT_EQ(s.sampleFrom(stat(400, 0, 0, 700), std::nullopt).cpu, 0);
    // Total fell: no interval to measure.
    EXPECT_EQ(s.sampleFrom(stat(10, 0, 0, 10), std::nullopt).cpu, 0);
    EXPECT_EQ(s.sampleFrom(stat(20, 0, 0, 10), std::nullopt).cpu, 100);
}

TEST(SystemStats, ReadsItsFilesAndTheRealProc) {
    test::TempDir dir;
    {
        std::ofstream(dir.file("stat")) << stat(10, 0, 0, 90);
        std::ofstream(dir.file("meminfo")) << meminfo(2000, 500);
    }
    SystemStats files(dir.file("stat"), dir.file("meminfo"));
    EXPECT_EQ(files.sample(), (SystemStats::Sample{0, 75}));
    std::ofstream(dir.file("stat")) << stat(20, 0, 0, 180);
    EXPECT_EQ(files.sample().cpu, 10);

    SystemStats real;
    real.sample();
    const auto s = real.sample();
    EXPECT_LE(s.cpu, 100);
    EXPECT_GT(s.ram, 0);
    EXPECT_LE(s.ram, 100);
}
