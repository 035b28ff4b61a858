// The one runner every tool goes through: it must never wedge on a full pipe, never wait past its
// time-out, and never take a killed or missing tool for a success.

#include <chrono>
#include <csignal>
#include <thread>

#include <gtest/gtest.h>

#include "ShellTestSupport.h"
#include "agent/shell/ChildProcess.h"

using namespace dovrel::agent;
using namespace std::chrono_literals;

namespace {
auto elapsedSince(std::chrono::steady_clock::time_point start) { return std::chrono::steady_clock::now() - start; }
} // namespace

TEST(ChildProcess, ReadsBothStreamsBeyondThePipeBuffersWithoutBlocking) {
    // 1 MB on each stream, interleaved: a runner that read one stream to its end first would block the
    // tool on the other stream's full pipe forever.
    const auto r = runChildProcess("sh", {"-c", "i=0; while [ $i -lt 16 ]; do head -c 65536 /dev/zero | tr '\\0' o; "
                                                "head -c 65536 /dev/zero | tr '\\0' e >&2; i=$((i+1)); done; exit 3"});
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitStatus, 3);
    EXPECT_FALSE(r.succeeded());
    EXPECT_EQ(r.out, std::string(1 << 20, 'o'));
    EXPECT_EQ(r.err, std::string(1 << 20, 'e'));
}

TEST(ChildProcess, KeepsOnlyTheOutputLimitButLetsTheToolFinish) {
    ChildOptions options;
    options.outputLimit = 1000;
    const auto r = runChildProcess("sh", {"-c", "head -c 500000 /dev/zero; echo done >&2"}, options);
    EXPECT_TRUE(r.succeeded());
    EXPECT_EQ(r.out.size(), 1000u);
    EXPECT_EQ(r.err, "done\n");
}

TEST(ChildProcess, KillsAHangingToolAndItsChildrenAtTheTimeOutAndCallsItFailed) {
    dovrel::test::TempDir dir;
    const std::string pidFile = dir.file("grandchild");
    ChildOptions options;
    options.timeout = 300ms;
    const auto start = std::chrono::steady_clock::now();
    const auto r = runChildProcess("sh", {"-c", "sleep 30 & echo $! > " + pidFile + "; echo waiting; wait"}, options);
    EXPECT_LT(elapsedSince(start), 3s);
    EXPECT_TRUE(r.started);
    EXPECT_TRUE(r.timedOut);
    EXPECT_FALSE(r.succeeded());
    EXPECT_EQ(r.out, "waiting\n");
    // The sleep it started went with it: gone, or dead and not yet reaped by whoever took it in.
    const pid_t grandchild = std::stoi(dovrel::test::readFile(pidFile));
    const auto dead = [&] {
        const std::string stat = dovrel::test::readFile("/proc/" + std::to_string(grandchild) + "/stat");
        const std::size_t state = stat.rfind(") ");
        return ::kill(grandchild, 0) != 0 || (state != std::string::npos && stat.compare(state + 2, 1, "Z") == 0);
    };
    EXPECT_TRUE(dovrel::test::waitUntil(dead, 2000ms));
}

TEST(ChildProcess, AToolThatEndsIsDoneEvenWhileSomethingItStartedHoldsItsOutput) {
    // What it started outlives the time-out: waiting for the output to close would end in a time-out
    // and a failure, however fast or slow the machine.
    dovrel::test::TempDir dir;
    const std::string pidFile = dir.file("holder");
    const auto r = runChildProcess("sh", {"-c", "sleep 30 & echo $! > " + pidFile + "; echo hi"});
    EXPECT_FALSE(r.timedOut);
    EXPECT_TRUE(r.succeeded());
    EXPECT_EQ(r.out, "hi\n");
    const std::string holder = dovrel::test::readFile(pidFile);
    if (dovrel::test::readFile("/proc/" + holder.substr(0, holder.find('\n')) + "/cmdline").starts_with("sleep"))
        ::kill(std::stoi(holder), SIGKILL);
}

TEST(ChildProcess, AMissingToolNeverStartsAndASignalIsNoSuccess) {
    const auto missing = runChildProcess("dovrel-no-such-tool-here", {});
    EXPECT_FALSE(missing.started);
    EXPECT_FALSE(missing.succeeded());
    EXPECT_FALSE(runChildProcess("/nonexistent/tool", {}).started);

    const auto killed = runChildProcess("sh", {"-c", "kill -TERM $$"});
    EXPECT_TRUE(killed.started);
    EXPECT_FALSE(killed.timedOut);
    EXPECT_EQ(killed.exitStatus, -1);
    EXPECT_FALSE(killed.succeeded());
}

TEST(ChildProcess, StandardInputIsEmptyAndArgumentsArrivePlain) {
    const auto r = runChildProcess("sh", {"-c", "cat; printf '%s|' \"$@\"", "sh", "a b", "", "$HOME"});
    EXPECT_TRUE(r.succeeded());
    EXPECT_EQ(r.out, "a b||$HOME|");
}

TEST(ChildProcess, ManyThreadsRunToolsAtOnce) {
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            for (int j = 0; j < 5; ++j) {
                const auto r = runChildProcess("sh", {"-c", "echo " + std::to_string(i * 10 + j)});
                if (r.succeeded() && r.out == std::to_string(i * 10 + j) + "\n") ++good;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(good.load(), 40);
}
