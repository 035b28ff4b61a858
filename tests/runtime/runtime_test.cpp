#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../support/FakeScheduler.h"
#include "../support/TempHome.h"
#include "runtime/AtomicFile.h"
#include "runtime/Scheduler.h"
#include "runtime/SerialQueue.h"
#include "runtime/StopSignal.h"
#include "runtime/UnlockedLine.h"

using namespace dovrel;
using namespace std::chrono_literals;

namespace {
int argc = 1;
char arg0[] = "runtime_tests";
char* argv[] = {arg0, nullptr};
QCoreApplication& app() {
    static QCoreApplication a(argc, argv);
    return a;
}
} // namespace

TEST(SerialQueue, RunsPostedWorkInOrderOnItsOwnNamedThread) {
    app();
    SerialQueue q("dovrel.test");
    std::vector<int> order;
    std::atomic<bool> wrongThread = false;
    for (int i = 0; i < 1000; ++i) {
        q.post([&, i] {
            if (!q.isCurrent()) wrongThread = true;
            order.push_back(i);
        });
    }
    QString name;
    q.sync([&] { name = QThread::currentThread()->objectName(); });
    EXPECT_FALSE(wrongThread);
    ASSERT_EQ(order.size(), 1000u);
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_EQ(name, "dovrel.test");
    EXPECT_FALSE(q.isCurrent());
}

TEST(SerialQueue, PostsFromManyThreadsAreAllRunAndSyncNestsOnTheOwner) {
    app();
    SerialQueue q("dovrel.test2");
    int counter = 0; // touched only on the owner thread
    std::vector<std::thread> senders;
    for (int t = 0; t < 8; ++t)
        senders.emplace_back([&] {
            for (int i = 0; i < 500; ++i)
                q.post([&] { ++counter; });
        });
    for (auto& t : senders)
        t.join();
    int seen = 0;
    q.sync([&] {
        q.sync([&] { seen = counter; }); // already on the owner: runs at once, no deadlock
    });
    EXPECT_EQ(seen, 4000);
}

// Closing waits for what was posted before and drops what comes after; sync still runs for the owner
// that closed it.
TEST(SerialQueue, AClosedQueueRunsWhatCameBeforeAndNothingPostedAfter) {
    app();
    SerialQueue q("dovrel.test3");
    std::atomic<int> before{0}, after{0};
    for (int i = 0; i < 100; ++i)
        q.post([&] { ++before; });
    q.close();
    EXPECT_EQ(before, 100);
    q.post([&] { ++after; });
    int synced = 0;
    q.sync([&] { synced = after + 1; });
    EXPECT_EQ(synced, 1);
}

TEST(QtScheduler, FiresOnceRepeatsAndCancelsOnDestruction) {
    app();
    Scheduler& s = realScheduler();
    int once = 0, repeated = 0, cancelled = 0;
    auto t1 = s.after(5ms, [&] { ++once; });
    auto t2 = s.every(1ms, 2ms, [&] { ++repeated; });
    auto t3 = s.after(5ms, [&] { ++cancelled; });
    t3.reset();
    std::unique_ptr<Timer> selfClearing;
    int selfFired = 0;
    selfClearing = s.after(1ms, [&] {
        ++selfFired;
        selfClearing.reset(); // a callback may drop its own timer
    });
    // A timer due after all of them: once it fired, the cancelled one would have fired too.
    bool later = false;
    auto t4 = s.after(20ms, [&] { later = true; });
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (!(later && once == 1 && repeated >= 5 && selfFired == 1) && std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_TRUE(later);
    EXPECT_EQ(once, 1);
    EXPECT_GE(repeated, 5);
    EXPECT_EQ(cancelled, 0);
    EXPECT_EQ(selfFired, 1);
    EXPECT_FALSE(selfClearing);
}

TEST(FakeScheduler, FiresInTimeOrderWithTheClockAtEachDueTime) {
    test::FakeScheduler s;
    const Instant start = s.now();
    std::vector<std::pair<char, Duration>> fired;
    auto a = s.after(10s, [&] { fired.emplace_back('a', s.now() - start); });
    auto b = s.every(5s, 5s, [&] { fired.emplace_back('b', s.now() - start); });
    auto c = s.after(7s, [&] { fired.emplace_back('c', s.now() - start); });
    c.reset();
    s.advance(16s);
    const std::vector<std::pair<char, Duration>> expected = {{'b', 5s}, {'a', 10s}, {'b', 10s}, {'b', 15s}};
    EXPECT_EQ(fired, expected);
    EXPECT_EQ(s.now() - start, 16s);
    b.reset();
    s.advance(100s);
    EXPECT_EQ(fired.size(), 4u);
    EXPECT_EQ(s.pendingTimers(), 0u);
}

TEST(AtomicFile, WritesWithModeAndReplacesWholeFiles) {
    test::TempDir dir;
    const std::string path = dir.file("secret");
    const wex::Bytes first(100, 1), second = {9, 8, 7};
    ASSERT_EQ(writeFileAtomically(path, first), "");
    ASSERT_EQ(writeFileAtomically(path, second), "");
    wex::Bytes read;
    ASSERT_TRUE(readWholeFile(path, read));
    EXPECT_EQ(read, second);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // No temporary files are left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    EXPECT_NE(writeFileAtomically(dir.file("missing/secret"), second), "");
    EXPECT_FALSE(readWholeFile(dir.file("absent"), read));
    EXPECT_EQ(read, second); // a failed read leaves the output alone
}

// In a process of its own: whatever a first signal alone would wait for, a second one ends a start-up
// that hangs at once, after its clean-up, with status 0.
TEST(StopSignalHold, ASecondSignalEndsAHangingStartUpAtOnceAfterItsCleanUp) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto startUpThatHangs = [] {
        StopSignalHold hold(1h);
        hold.onCutShort([](std::string_view) { std::fputs("cleaned up\n", stderr); });
        std::raise(SIGINT);
        std::raise(SIGTERM);
        std::this_thread::sleep_for(60s);
        std::exit(1);
    };
    EXPECT_EXIT(startUpThatHangs(), ::testing::ExitedWithCode(0), "cleaned up");
}

// Written whole in one go where there is room, cut at its capacity, and left out where the pipe is full
// rather than waited for (a wait there would hold this test up for good).
TEST(UnlockedLine, WrittenAtOnceWhereThereIsRoomAndNotAtAllWhereItWouldWait) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    (UnlockedLine() << "stopping " << -42LL << " now").writeTo(fds[1]);
    (UnlockedLine() << std::string(UnlockedLine::capacity + 100, 'x')).writeTo(fds[1]);
    std::string got(2 * UnlockedLine::capacity, '\0');
    got.resize(static_cast<std::size_t>(std::max<ssize_t>(::read(fds[0], got.data(), got.size()), 0)));
    EXPECT_EQ(got, "stopping -42 now\n" + std::string(UnlockedLine::capacity, 'x') + "\n");

    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    const std::string block(4096, 'f');
    while (::write(fds[1], block.data(), block.size()) > 0) {
    }
    ::fcntl(fds[1], F_SETFL, 0);
    (UnlockedLine() << "left out").writeTo(fds[1]);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    std::string drained;
    for (ssize_t n; (n = ::read(fds[0], got.data(), got.size())) > 0;)
        drained.append(got.data(), static_cast<std::size_t>(n));
    EXPECT_EQ(drained.find("left out"), std::string::npos);
    ::close(fds[0]);
    ::close(fds[1]);
}
