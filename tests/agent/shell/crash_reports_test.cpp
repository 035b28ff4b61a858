// Crash reports: a forked child that really crashes writes one, the next sweep finds it once, and the
// sweep's listing, marker and file-name rules.

#include <csignal>
#include <fcntl.h>
#include <regex>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "ShellTestSupport.h"
#include "agent/shell/CrashReports.h"
#include "agent/shell/TextUtil.h"
#include "runtime/SerialQueue.h"
#include "runtime/SignalStack.h"

using namespace dovrel::agent;
using namespace dovrel::test;

namespace {

// Runs `crash` in a forked child with the crash handlers installed for `dir` and its standard output
// and error in `logFile`; returns the signal that ended it (0 when it exited). `onAThread` false: on
// the child's main thread, which may then start the threads it needs itself.
int crashInChild(const std::string& dir, const std::string& logFile, void (*crash)(), bool onAThread = true) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        ::dup2(log, 1);
        ::dup2(log, 2);
        CrashReports::installHandlers(dir);
        // On a thread of its own, as in the agent: nothing above it catches what it throws.
        if (onAThread)
            std::thread(crash).join();
        else
            crash();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// Past the sanitizers' own check of a null store, which would end the child before the fault.
[[gnu::no_sanitize_undefined]] void segfault() {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
}

volatile int neverReached = -1;

// Recurses until the thread's stack is gone.
[[gnu::noinline]] int overflow(int depth) {
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    if (depth == neverReached) return 0;
    return overflow(depth + 1) + frame[0];
}

// The child's main thread runs the application a queue needs; the queue's thread overflows.
void overflowOnAQueue() {
    int argc = 1;
    char name[] = "child";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    dovrel::SerialQueue queue("test.overflow");
    queue.post([] { overflow(0); });
    for (;;)
        ::pause();
}

// A thread the test starts, which arms its signal stack first as the agent's threads do.
void overflowOnAnArmedThread() {
    dovrel::armSignalStack();
    overflow(0);
}

// Gives `path` the modification time `seconds` since 1970 (and a quarter of a second).
void setDate(const std::string& path, time_t seconds) {
    const timespec times[2] = {{seconds, 250000000}, {seconds, 250000000}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

const std::string closing1 = "   Please send the newest of those if you are reporting a problem. They contain a";
const std::string closing2 = "   stack trace and no screen or clipboard contents. Nothing is uploaded from here.";

} // namespace

TEST(CrashReports, AChildThatCrashesLeavesAReportTheNextSweepNamesOnce) {
    TempDir home;
    const std::string dir = home.file(".dovrel/crashes");
    const std::string log = home.file("child.log");
    EXPECT_EQ(crashInChild(dir, log, segfault), SIGSEGV);

    EXPECT_EQ(modeOf(home.file(".dovrel")), 0700u);
    EXPECT_EQ(modeOf(dir), 0700u);
    const auto found = CrashReports::reports({dir});
    ASSERT_EQ(found.size(), 1u);
    const std::string report = found[0].path;
    EXPECT_EQ(modeOf(report), 0600u);
    EXPECT_TRUE(std::regex_match(report, std::regex(".*/agent_shell_tests-\\d{4}-\\d\\d-\\d\\d-\\d{6}-\\d+\\.crash")))
        << report;
    const std::string text = readFile(report);
    EXPECT_NE(text.find("\nstack:\n"), std::string::npos) << text;
    EXPECT_NE(text.find("executable: /"), std::string::npos) << text;
    const auto head = CrashReports::headline(report);
    ASSERT_TRUE(head);
    EXPECT_TRUE(
        std::regex_match(*head, std::regex("agent_shell_tests crashed: SIGSEGV \\(signal 11, code \\d+\\) at "
                                           "0x0 in pid \\d+, started \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d")))
        << *head;
    // The log got one time-stamped line naming the report.
    EXPECT_TRUE(
        std::regex_search(readFile(log), std::regex("(^|\n)\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} !! FATAL: "
                                                    "SIGSEGV — crash report written to " +
                                                    std::regex_replace(report, std::regex("[.]"), "\\.") + "\n")))
        << readFile(log);

    // The marker's folder does not exist yet: it is made private before the marker is written.
    const std::string marker = home.file("state/crash-seen");
    Lines lines;
    EXPECT_TRUE(CrashReports::sweep(std::vector<std::string>{dir}, marker, lines.sink()));
    EXPECT_EQ(lines.all(), (std::vector<std::string>{
                               "!! this agent crashed on a previous run — 1 report(s) the OS wrote:",
                               "   " + report,
                               "     " + *head,
                               closing1,
                               closing2,
                           }));
    EXPECT_EQ(modeOf(marker), 0600u);
    EXPECT_EQ(modeOf(home.file("state")), 0700u);
    EXPECT_EQ(std::stod(readFile(marker)), found[0].date);

    Lines again;
    EXPECT_FALSE(CrashReports::sweep(std::vector<std::string>{dir}, marker, again.sink()));
    EXPECT_TRUE(again.all().empty());
    EXPECT_EQ(CrashReports::newestReportPath({dir}), report) << "the self-check still sees it";
}

TEST(CrashReports, AStackOverflowOnAThreadTheAgentStartedStillWritesAReport) {
    TempDir home;
    const std::string dir = home.file("crashes");
    // On a queue's thread, as most of the agent's threads are.
    EXPECT_EQ(crashInChild(dir, home.file("queue.log"), overflowOnAQueue, false), SIGSEGV);
    EXPECT_EQ(CrashReports::reports({dir}).size(), 1u) << readFile(home.file("queue.log"));
    // On a thread of its own that armed its signal stack first.
    EXPECT_EQ(crashInChild(dir, home.file("thread.log"), overflowOnAnArmedThread), SIGSEGV);
    EXPECT_EQ(CrashReports::reports({dir}).size(), 2u) << readFile(home.file("thread.log"));
    EXPECT_NE(readFile(home.file("thread.log")).find("!! FATAL: SIGSEGV — crash report written to "),
              std::string::npos);
}

TEST(CrashReports, AnUncaughtExceptionIsLoggedWithItsStackAndThenAborts) {
    TempDir home;
    const std::string dir = home.file("crashes");
    const std::string log = home.file("child.log");
    EXPECT_EQ(crashInChild(dir, log, [] { throw std::runtime_error("the relay answer was garbled"); }), SIGABRT);
    const std::string text = readFile(log);
    EXPECT_TRUE(std::regex_search(
        text, std::regex("\\d\\d:\\d\\d\\.\\d{3} !! FATAL: uncaught std::runtime_error: the relay answer was garbled\n"
                         "[^\n]+ {3}\\S")))
        << text;
    EXPECT_NE(text.find("!! FATAL: SIGABRT — crash report written to "), std::string::npos) << text;
    EXPECT_EQ(CrashReports::reports({dir}).size(), 1u);

    const std::string log2 = home.file("child2.log");
    EXPECT_EQ(crashInChild(dir, log2, [] { throw 42; }), SIGABRT);
    EXPECT_NE(readFile(log2).find("!! FATAL: uncaught int: no reason given\n"), std::string::npos) << readFile(log2);
}

TEST(CrashReports, SevenNewReportsListFiveNewestFirstAndCountTheRest) {
    TempDir home;
    const std::string dir = home.file("crashes");
    std::vector<std::string> paths;
    for (int i = 0; i < 7; ++i) {
        const std::string p = dir + "/DovrelAgent-2026-01-0" + std::to_string(i + 1) + ".crash";
        writeFile(p, "DovrelAgent crashed: report " + std::to_string(i) + "\nmore\n");
        setDate(p, 1700000000 + i * 60);
        paths.push_back(p);
    }
    Lines lines;
    const std::string marker = home.file(".dovrel/crash-seen");
    writeFile(marker, "not a number");
    EXPECT_TRUE(CrashReports::sweep(std::vector<std::string>{dir}, marker, lines.sink()));
    std::vector<std::string> expected = {"!! this agent crashed on a previous run — 7 report(s) the OS wrote:"};
    for (int i = 6; i >= 2; --i) {
        expected.push_back("   " + paths[static_cast<std::size_t>(i)]);
        expected.push_back("     DovrelAgent crashed: report " + std::to_string(i));
    }
    expected.push_back("   … and 2 more");
    expected.push_back(closing1);
    expected.push_back(closing2);
    EXPECT_EQ(lines.all(), expected);
    EXPECT_EQ(readFile(marker), "1700000360.25");

    // One newer report later: only it is new; an older one that turns up is never mentioned.
    writeFile(dir + "/Dovrel Agent-late.crash", "late\n");
    setDate(dir + "/Dovrel Agent-late.crash", 1700000100);
    writeFile(dir + "/DovrelAE-new.crash", "");
    setDate(dir + "/DovrelAE-new.crash", 1700000400);
    Lines next;
    EXPECT_TRUE(CrashReports::sweep(std::vector<std::string>{dir}, marker, next.sink()));
    EXPECT_EQ(next.all(),
              (std::vector<std::string>{"!! this agent crashed on a previous run — 1 report(s) the OS wrote:",
                                        "   " + dir + "/DovrelAE-new.crash", closing1, closing2}));
}

TEST(CrashReports, OnlyTheNewestOwnReportsAreKept) {
    TempDir home;
    const std::string dir = home.file("crashes");
    for (int i = 0; i < 25; ++i) {
        const std::string p = dir + "/DovrelAgent-" + std::to_string(i) + ".crash";
        writeFile(p, "x\n");
        setDate(p, 1700000000 + i);
    }
    writeFile(dir + "/notes.txt", "kept: not a report");
    CrashReports::pruneReports(dir);
    const auto left = CrashReports::reports({dir});
    ASSERT_EQ(left.size(), CrashReports::keptReports);
    EXPECT_EQ(left.front().path, dir + "/DovrelAgent-24.crash");
    EXPECT_EQ(left.back().path, dir + "/DovrelAgent-5.crash");
    EXPECT_TRUE(std::filesystem::exists(dir + "/notes.txt"));
}

TEST(CrashReports, NoReportsOrUnreadableFoldersLogNothingAndLeaveTheMarker) {
    TempDir home;
    Lines lines;
    const std::string marker = home.file("crash-seen");
    EXPECT_FALSE(
        CrashReports::sweep(std::vector<std::string>{home.file("missing"), "/proc/self/fdinfo"}, marker, lines.sink()));
    EXPECT_TRUE(lines.all().empty());
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_EQ(CrashReports::newestReportPath({home.file("missing")}), std::nullopt);
}

TEST(CrashReports, KnowsOurReportNamesAndTheCrashCollectorsForThisUser) {
    const auto prefixes = CrashReports::namePrefixes();
    EXPECT_EQ(prefixes,
              (std::vector<std::string>{"DovrelAgent", "Dovrel Agent", "DovrelAE", "Dovrel", "agent_shell_tests"}));
    const uid_t uid = 1000;
    for (const char* yes :
         {"DovrelAgent-2026-12-09-101112-77.crash", "Dovrel Agent-2026.crash", "Dovrel-x.crash",
          "agent_shell_tests-1.crash", "_usr_bin_DovrelAgent.1000.crash", "_opt_Dovrel Agent_Dovrel Agent.1000.crash"})
        EXPECT_TRUE(CrashReports::isReportName(yes, prefixes, uid)) << yes;
    for (const char* no : {"DovrelAgent.crash", "DovrelAgentX-1.crash", "DovrelAgent-1.ips", "Other-1.crash",
                           "_usr_bin_DovrelAgent.1001.crash", "_usr_bin_NotDovrel.1000.crash",
                           "_usr_bin_DovrelAgent.crash", "DovrelAgent-1.crash.tmp"})
        EXPECT_FALSE(CrashReports::isReportName(no, prefixes, uid)) << no;
}

TEST(CrashReports, TheHeadlineIsTheFirstLineOfTheFirst4096Bytes) {
    TempDir dir;
    const auto headlineOf = [&](const std::string& content) {
        writeFile(dir.file("r.crash"), content);
        return CrashReports::headline(dir.file("r.crash"));
    };
    EXPECT_EQ(headlineOf("\n\nfirst\nsecond\n"), "first");
    EXPECT_EQ(headlineOf(""), std::nullopt);
    EXPECT_EQ(headlineOf("\n\n"), std::nullopt);
    EXPECT_EQ(headlineOf(std::string(5000, 'a')), std::string(4096, 'a')) << "no line feed: all of it";
    // "é" is two bytes; the 4096-byte cut splits the last one: only that half is dropped.
    std::string cut = std::string(4095, 'b') + "é and more";
    EXPECT_EQ(headlineOf(cut), std::string(4095, 'b'));
    // A three-byte character cut after two bytes.
    cut = std::string(4094, 'c') + "€";
    EXPECT_EQ(headlineOf(cut + "tail"), std::string(4094, 'c'));
    // Broken UTF-8 inside the text is not a headline.
    EXPECT_EQ(headlineOf("bad \xff byte\n"), std::nullopt);
    EXPECT_EQ(headlineOf(std::string(4095, 'd') + "\xff"), std::nullopt) << "a stray byte is no cut character";
    EXPECT_EQ(CrashReports::headline(dir.file("missing")), std::nullopt);
    EXPECT_EQ(CrashReports::headline(dir.str()), std::nullopt) << "a folder cannot be read as a report";
}

TEST(CrashReports, DropsOnlyAnIncompleteTrailingCharacter) {
    EXPECT_EQ(dropIncompleteUTF8Tail("abc"), "abc");
    EXPECT_EQ(dropIncompleteUTF8Tail("ab\xc3"), "ab");
    EXPECT_EQ(dropIncompleteUTF8Tail("ab\xc3\xa9"), "ab\xc3\xa9");
    EXPECT_EQ(dropIncompleteUTF8Tail("a\xf0\x9f\x98"), "a");
    EXPECT_EQ(dropIncompleteUTF8Tail("a\xf0\x9f\x98\x80"), "a\xf0\x9f\x98\x80");
    EXPECT_EQ(dropIncompleteUTF8Tail("a\xe0\x80"), "a\xe0\x80") << "E0 80 can never be completed";
    EXPECT_EQ(dropIncompleteUTF8Tail("a\x80"), "a\x80") << "a lone continuation byte is left for the check";
    EXPECT_EQ(dropIncompleteUTF8Tail(""), "");
}

TEST(CrashReports, TheMarkerHoldsTheShortestTextThatReadsBack) {
    EXPECT_EQ(CrashReports::markerText(1700000000.0), "1700000000.0");
    EXPECT_EQ(CrashReports::markerText(1700000360.25), "1700000360.25");
    const double odd = 1733731200.123456789;
    EXPECT_EQ(std::stod(CrashReports::markerText(odd)), odd);
}
