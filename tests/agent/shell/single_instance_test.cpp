// One copy per user: the lock file, the second copy's show-window request, the supervised start and
// the hand-over to systemd, with a stand-in systemctl.

#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../../support/ChildProcess.h"
#include "ShellTestSupport.h"
#include "agent/shell/ShowWindowChannel.h"
#include "agent/shell/SingleInstance.h"

using namespace dovrel::agent;
using namespace dovrel::test;
using Decision = LaunchArbiter::Decision;

namespace {

struct Arbitration {
    FakeSystemctl fake;
    TempDir home;
    Lines lines;
    Supervisor supervisor;
    LaunchArbiter::Options options;

    Arbitration() : supervisor(supervisorOptions()) {
        options.stateDirectory = home.file(".dovrel");
        options.showWindowSocket = home.file("show.sock");
        options.handOffPolls = 3;
        options.handOffInterval = 1ms;
        options.showWindowPatience = 200ms;
        options.log = lines.sink();
    }
    Supervisor::Options supervisorOptions() {
        Supervisor::Options o;
        o.unitDirectory = home.file("units");
        o.executable = "/usr/bin/DovrelAgent";
        o.log = lines.sink();
        return o;
    }
    // Runs `body` in a forked child and returns its exit status (-1 when a signal ended it).
    template <typename Body> static int inChild(Body body) {
        const pid_t pid = ::fork();
        if (pid == 0) ::_exit(body());
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

} // namespace

TEST(LaunchArbiter, TheFirstCopyRunsAndTheLockFileHoldsItsPid) {
    Arbitration s;
    LaunchArbiter arbiter(s.supervisor, s.options);
    EXPECT_EQ(arbiter.arbitrate(), Decision::run);
    EXPECT_TRUE(arbiter.holdsLock());
    EXPECT_EQ(readFile(arbiter.lockPath()), std::to_string(::getpid()) + "\n");
    EXPECT_EQ(modeOf(s.options.stateDirectory), 0700u);
    EXPECT_EQ(modeOf(arbiter.lockPath()), 0600u);
    EXPECT_FALSE(dovrel::test::lockFree(arbiter.lockPath()));
    EXPECT_EQ(s.lines.all().back(),
              "• running without a supervisor — Nothing is watching the agent — it will not come back if it stops");
    // An older, longer content is replaced whole.
    arbiter.releaseLock();
    writeFile(arbiter.lockPath(), "123456789012345\nleftover\n");
    EXPECT_TRUE(arbiter.takeLock());
    EXPECT_EQ(readFile(arbiter.lockPath()), std::to_string(::getpid()) + "\n");
}

TEST(LaunchArbiter, ASecondCopyAsksTheFirstToShowItsWindowAndEndsWithZero) {
    Arbitration s;
    LaunchArbiter first(s.supervisor, s.options);
    ASSERT_EQ(first.arbitrate(), Decision::run);
    UniqueFd listening = first.takeShowWindowListener();
    ASSERT_TRUE(listening);

    // The second copy is another process; it exits with its decision's status, as the program does.
    const int status = Arbitration::inChild([&] {
        Lines childLines;
        auto options = s.options;
        options.log = childLines.sink();
        LaunchArbiter second(s.supervisor, options);
        const Decision d = second.arbitrate();
        const auto lines = childLines.all();
        if (d != Decision::alreadyRunning || lines.size() != 1 ||
            lines[0] != "• another Dovrel Agent is already running for this user — bringing its window forward")
            return 9;
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(first.lockPath()), std::to_string(::getpid()) + "\n") << "the holder's pid stays";

    // The request waited in the socket's queue until the first copy's loop served it.
    qtApp();
    ShowWindowServer server(std::move(listening));
    ASSERT_TRUE(server.listening());
    int requests = 0;
    QObject::connect(&server, &ShowWindowServer::requested, [&] { ++requests; });
    EXPECT_TRUE(waitUntil([&] { return requests == 1; }));
    // Once only, and a third copy is heard as well.
    waitUntil([] { return false; }, 100ms);
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(Arbitration::inChild([&] { return requestShowWindow(s.options.showWindowSocket) ? 0 : 1; }), 0);
    EXPECT_TRUE(waitUntil([&] { return requests == 2; }));
}

TEST(LaunchArbiter, ASupervisedProcessRunsEvenWhileAnotherCopyHoldsTheLock) {
    Arbitration s;
    LaunchArbiter first(s.supervisor, s.options);
    ASSERT_EQ(first.arbitrate(), Decision::run);
    s.fake.set("mainpid", "caller");
    const int status = Arbitration::inChild([&] {
        ::setenv("DOVREL_SUPERVISED", "1", 1);
        LaunchArbiter supervised(s.supervisor, s.options);
        const Decision d = supervised.arbitrate();
        return d == Decision::run && !supervised.holdsLock() ? 0 : 9;
    });
    EXPECT_EQ(status, 0);
}

TEST(LaunchArbiter, ASupervisedProcessTakesTheLockWhenItIsFree) {
    Arbitration s;
    s.fake.set("mainpid", "caller");
    ::setenv("DOVREL_SUPERVISED", "1", 1);
    LaunchArbiter arbiter(s.supervisor, s.options);
    EXPECT_EQ(arbiter.arbitrate(), Decision::run);
    ::unsetenv("DOVREL_SUPERVISED");
    EXPECT_TRUE(arbiter.holdsLock());
    EXPECT_EQ(s.fake.count("--user enable com.quendal.dovrel.agent.service"), 0) << "no registration when supervised";
    EXPECT_TRUE(s.lines.all().empty());
}

TEST(LaunchArbiter, HandsOverToSystemdWhenTheUnitIsActive) {
    Arbitration s;
    s.fake.set("is-enabled", "enabled\n");
    s.fake.set("mainpid", "4242");
    LaunchArbiter arbiter(s.supervisor, s.options);
    EXPECT_EQ(arbiter.arbitrate(), Decision::supervisorHasIt);
    EXPECT_FALSE(arbiter.holdsLock());
    EXPECT_TRUE(dovrel::test::lockFree(arbiter.lockPath())) << "systemd's process must be able to take the lock";
    EXPECT_EQ(s.fake.count("--user start com.quendal.dovrel.agent.service"), 1);
    EXPECT_EQ(s.lines.all().back(), "• supervisor has the agent (pid 4242) — this copy is done");
    EXPECT_FALSE(arbiter.takeShowWindowListener());
    EXPECT_FALSE(std::filesystem::exists(s.options.showWindowSocket)) << "the window is systemd's process's now";
}

TEST(LaunchArbiter, RunsItselfWhenSystemdProducesNoOtherProcess) {
    for (const std::string pid : {"0", "caller"}) {
        Arbitration s;
        s.fake.set("is-enabled", "enabled\n");
        s.fake.set("mainpid", pid);
        LaunchArbiter arbiter(s.supervisor, s.options);
        EXPECT_EQ(arbiter.arbitrate(), Decision::run) << pid;
        EXPECT_TRUE(arbiter.holdsLock());
        EXPECT_TRUE(arbiter.takeShowWindowListener());
        EXPECT_EQ(s.fake.count("--user show --property=MainPID com.quendal.dovrel.agent.service"), 3);
        EXPECT_EQ(s.lines.all().back(),
                  "• supervisor registered but systemd produced no process in 5s — running in this one");
    }
}

TEST(LaunchArbiter, RunsUnsupervisedWhenTheUnitIsOffOrCannotBeRegistered) {
    {
        Arbitration s;
        s.fake.set("is-enabled", "disabled\n");
        LaunchArbiter arbiter(s.supervisor, s.options);
        EXPECT_EQ(arbiter.arbitrate(), Decision::run);
        EXPECT_EQ(s.lines.all().back(), "• running without a supervisor — Turned off in the systemd user services — it "
                                        "will not restart itself");
    }
    {
        Arbitration s;
        s.fake.set("enable-fails", "Failed to enable unit: Read-only file system\n");
        LaunchArbiter arbiter(s.supervisor, s.options);
        EXPECT_EQ(arbiter.arbitrate(), Decision::run);
        EXPECT_EQ(s.lines.all().back(), "• running without a supervisor — Could not set up automatic restart: Failed "
                                        "to enable unit: Read-only file system");
    }
}

TEST(LaunchArbiter, RunsWithoutProtectionWhenTheLockFileCannotBeOpened) {
    Arbitration s;
    writeFile(s.home.file("plainfile"), "x");
    s.options.stateDirectory = s.home.file("plainfile/.dovrel");
    LaunchArbiter arbiter(s.supervisor, s.options);
    EXPECT_TRUE(arbiter.takeLock());
    EXPECT_FALSE(arbiter.holdsLock());
    EXPECT_EQ(arbiter.arbitrate(), Decision::run);
}

TEST(ShowWindowChannel, OnlyTheRequestLineCountsAndNobodyListeningIsNoDelivery) {
    TempDir dir;
    const std::string path = dir.file("show.sock");
    EXPECT_FALSE(requestShowWindow(path, 100ms));
    // A stale socket file from a run that died is replaced.
    writeFile(path, "stale");
    UniqueFd fd = listenForShowWindow(path);
    ASSERT_TRUE(fd);
    EXPECT_EQ(modeOf(path) & 077, 0u);
    qtApp();
    ShowWindowServer server(std::move(fd));
    int requests = 0;
    QObject::connect(&server, &ShowWindowServer::requested, [&] { ++requests; });

    // Garbage and a half request are dropped.
    const auto send = [&](const std::string& bytes) {
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::memcpy(a.sun_path, path.data(), path.size());
        const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::send(s, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        ::close(s);
    };
    send("GET / HTTP/1.0\r\n\r\n");
    send("showWin");
    waitUntil([] { return false; }, 200ms);
    EXPECT_EQ(requests, 0);
    EXPECT_TRUE(requestShowWindow(path));
    EXPECT_TRUE(waitUntil([&] { return requests == 1; }));

    EXPECT_EQ(showWindowSocketPath("/state").rfind("/com.quendal.dovrel.agent.showWindow"),
              showWindowSocketPath("/state").size() - std::string("/com.quendal.dovrel.agent.showWindow").size());
    ::setenv("XDG_RUNTIME_DIR", dir.str().c_str(), 1);
    EXPECT_EQ(showWindowSocketPath("/state"), dir.file("com.quendal.dovrel.agent.showWindow"));
    ::setenv("XDG_RUNTIME_DIR", dir.file("missing").c_str(), 1);
    EXPECT_EQ(showWindowSocketPath("/state"), "/state/com.quendal.dovrel.agent.showWindow");
}
