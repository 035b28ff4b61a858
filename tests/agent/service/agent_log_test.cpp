#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../../support/FakeScheduler.h"
#include "../../support/TempHome.h"
#include "agent/common/AgentLog.h"
#include "agent/common/Diag.h"
#include "agent/common/LogThrottle.h"
#include "protocol/Hex.h"
#include "runtime/StopSignal.h"

using namespace dovrel;
using namespace dovrel::agent;

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void makeFile(const std::string& path, uint64_t size) {
    std::ofstream out(path, std::ios::binary);
    out << std::string(size, 'x');
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

} // namespace

TEST(AgentLog, RotatesOnlyAboveTheCapAndLogsIntoTheFreshFile) {
    test::TempDir home;
    const std::string log = home.file(".dovrel-agent.log"), previous = home.file(".dovrel-agent.log.1");
    test::StdStreamsGuard guard;

    makeFile(log, AgentLog::cap);
    AgentLog::rotateIfNeeded(log, previous);
    EXPECT_EQ(AgentLog::size(log), AgentLog::cap);
    EXPECT_FALSE(std::filesystem::exists(previous));

    makeFile(previous, 10); // an older generation is replaced
    makeFile(log, AgentLog::cap + 1);
    AgentLog::rotateIfNeeded(log, previous);
    EXPECT_EQ(AgentLog::size(previous), AgentLog::cap + 1);
    const std::string fresh = readText(log);
    const std::regex line(R"(^\d\d-\d\d \d\d:\d\d:\d\d\.\d\d\d • log rotated at 8 MB — the previous one is at )" +
                          previous + "\n$");
    EXPECT_TRUE(std::regex_match(fresh, line)) << fresh;
    EXPECT_EQ(modeOf(log), 0600u);
}

TEST(AgentLog, ALineThatTakesTheOpenLogOverTheCapRotatesIt) {
    test::TempDir home;
    const std::string log = home.file(".dovrel-agent.log");
    test::StdStreamsGuard guard;
    makeFile(log, AgentLog::cap - 40); // the next line (37 bytes with its time stamp) still fits
    {
        const std::lock_guard lock(AgentLog::lock());
        AgentLog::openUnderLock(log);
    }
    print("• below the cap");
    EXPECT_FALSE(std::filesystem::exists(log + ".1"));
    print("• this one takes it over");
    EXPECT_GT(AgentLog::size(log + ".1"), AgentLog::cap);
    EXPECT_NE(readText(log).find("log rotated"), std::string::npos);
    EXPECT_LT(AgentLog::size(log), 200u);
}

TEST(LogThrottle, AFloodWritesAFewLinesASecondAndThenHowManyWereLeftOut) {
    test::TempDir home;
    const std::string log = home.file("throttled.log");
    test::StdStreamsGuard guard;
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
    test::FakeScheduler clock;
    LogThrottle throttle(clock, "junk", 3);
    const auto lines = [&] {
        const std::string text = readText(log);
        return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    };
    for (int i = 0; i < 1000; ++i)
        throttle.print("• junk " + std::to_string(i));
    EXPECT_EQ(lines(), 3);
    clock.advance(std::chrono::seconds(1)); // the second is over: its count is written
    EXPECT_EQ(lines(), 4);
    EXPECT_NE(readText(log).find("997"), std::string::npos);
    throttle.print("• junk again");
    throttle.stop(); // nothing left out: nothing more written
    EXPECT_EQ(lines(), 5);
}

// A start-up hung while it holds the log's lock (a rotation stuck in its write), the log over its cap so
// that the next line written the usual way would wait for that lock: a second stop signal still ends the
// agent at once, with status 0 and its line in the log.
TEST(AgentLog, AStopThatCutsAHungStartUpShortWritesItsLineWithoutTheLogsLock) {
    test::TempDir home;
    const std::string log = home.file(".dovrel-agent.log");
    makeFile(log, AgentLog::cap + 1);
    const auto hungHoldingTheLock = [&log] {
        StopSignalHold hold(std::chrono::hours(1));
        hold.onCutShort([](std::string_view what) { writeLogLineNow({"• ", what, " — stopping at once"}); });
        const std::lock_guard lock(AgentLog::lock());
        AgentLog::openUnderLock(log);
        std::raise(SIGINT);
        std::raise(SIGTERM);
        std::this_thread::sleep_for(std::chrono::minutes(1));
        std::exit(1);
    };
    EXPECT_EXIT(hungHoldingTheLock(), ::testing::ExitedWithCode(0), "");
    const std::string added = readText(log).substr(AgentLog::cap + 1);
    const std::regex line(
        R"(^\d\d-\d\d \d\d:\d\d:\d\d\.\d\d\d • a second SIGTERM while starting up — stopping at once\n$)");
    EXPECT_TRUE(std::regex_match(added, line)) << added;
}

TEST(AgentLog, MissingFileHasSizeZeroAndIsNeverRotated) {
    test::TempDir home;
    EXPECT_EQ(AgentLog::size(home.file("none")), 0u);
    EXPECT_FALSE(AgentLog::rotate(home.file("none"), home.file("none.1"), 0));
}

TEST(AgentLog, TwoThreadsRotateOnce) {
    test::TempDir home;
    const std::string log = home.file("log"), previous = home.file("log.1");
    test::StdStreamsGuard guard;
    makeFile(log, AgentLog::cap + 100);
    std::thread a([&] { AgentLog::rotateIfNeeded(log, previous); });
    std::thread b([&] { AgentLog::rotateIfNeeded(log, previous); });
    a.join();
    b.join();
    EXPECT_EQ(AgentLog::size(previous), AgentLog::cap + 100);
    const std::string fresh = readText(log);
    EXPECT_EQ(std::count(fresh.begin(), fresh.end(), '\n'), 1) << fresh;
}

TEST(AgentLog, OpenTightensAWiderFileAndAppends) {
    test::TempDir home;
    const std::string log = home.file("log");
    makeFile(log, 3);
    ::chmod(log.c_str(), 0644);
    {
        test::StdStreamsGuard guard;
        const std::lock_guard lock(AgentLog::lock());
        AgentLog::openUnderLock(log);
        printWith("-", "\n", "a", "b");
        print("• value", 42);
    }
    EXPECT_EQ(modeOf(log), 0600u);
    const std::string text = readText(log);
    const std::regex expected(
        R"(^xxx\d\d-\d\d \d\d:\d\d:\d\d\.\d\d\d a-b\n\d\d-\d\d \d\d:\d\d:\d\d\.\d\d\d • value 42\n$)");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST(AgentLog, UnopenableLogLeavesOutputAlone) {
    test::TempDir home;
    test::StdStreamsGuard guard;
    const int before = ::fcntl(1, F_GETFL);
    AgentLog::openUnderLock(home.file("no/such/dir/log"));
    EXPECT_EQ(::fcntl(1, F_GETFL), before);
}

TEST(Diag, TickReadsAndClearsCountersButKeepsStamps) {
    Diag::tick();
    Diag::add(Diag::Counter::captured, 3);
    Diag::add(Diag::Counter::videoBytes, 1000);
    Diag::add(Diag::Counter::audioFrames);
    const Instant at = std::chrono::steady_clock::now();
    Diag::stamp(Diag::Stamp::lastEncodeAt, at);
    const Diag::Tick t = Diag::tick();
    EXPECT_EQ(t, (Diag::Tick{3, 0, 0, 1000, 0, 0, 0, 1}));
    EXPECT_EQ(Diag::tick(), Diag::Tick{});
    EXPECT_EQ(Diag::stampOf(Diag::Stamp::lastEncodeAt), at);
    EXPECT_EQ(Diag::stampOf(Diag::Stamp::lastCaptureAt), Instant{});
}

TEST(Hex, LowerCaseWithoutSeparators) {
    EXPECT_EQ(wex::hexed(wex::Bytes{0x00, 0xAB, 0x0F, 0xF0}), "00ab0ff0");
    EXPECT_EQ(wex::hexed({}), "");
}
