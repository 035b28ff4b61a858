// The real DovrelAgent's start-up: one copy per user, the hand-over to systemd, a supervised start, a
// crash reported at the next start, the fatal exit, and a stop while start-up hangs. HOME and the runtime
// folder are temporary and systemctl is a stand-in.

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <regex>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "../../support/ChildProcess.h"
#include "../../support/SessionBus.h"
#include "../../support/SilentBus.h"
#include "ShellTestSupport.h"

using namespace dovrel::test;
using namespace std::chrono_literals;

namespace {

const std::string banner = "Dovrel agent up: relay + LAN";
const std::string selfCheckHeader = "── agent self-check ─────────────────────────────────────────";

} // namespace

TEST(AgentStart, TheFirstCopyRunsAndASecondOneDefersWithStatusZero) {
    FakeSystemctl fake;
    AgentHome h;
    ChildProcess first({DOVREL_AGENT_BINARY}, h.options());
    ASSERT_TRUE(h.waitForLog(banner)) << h.log();
    EXPECT_EQ(readFile(h.home.file(".dovrel/agent.lock")), std::to_string(first.pid()) + "\n");
    EXPECT_TRUE(std::filesystem::exists(h.home.file("run/com.quendal.dovrel.agent.showWindow")));

    // Start-up order: supervisor decision, then the self-check, then the agent.
    std::string log = h.log();
    const auto decided = log.find("• running without a supervisor — ");
    const auto checked = log.find(selfCheckHeader);
    ASSERT_NE(decided, std::string::npos) << log;
    ASSERT_NE(checked, std::string::npos) << log;
    EXPECT_LT(decided, checked);
    EXPECT_LT(checked, log.find(banner));
    std::string rule;
    for (int i = 0; i < 61; ++i)
        rule += "─";
    const auto closing = log.find(" " + rule + "\n", checked);
    EXPECT_NE(closing, std::string::npos) << log;
    EXPECT_LT(closing, log.find(banner));

    const auto status = runProgram({DOVREL_AGENT_BINARY}, h.options(), 15s);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
    log = h.log();
    EXPECT_EQ(countOf(log, "• another Dovrel Agent is already running for this user — bringing its window forward\n"),
              1u);
    EXPECT_EQ(countOf(log, selfCheckHeader), 1u) << "the second copy starts nothing";
    EXPECT_EQ(countOf(log, banner), 1u);
    EXPECT_TRUE(first.running());
    EXPECT_EQ(readFile(h.home.file(".dovrel/agent.lock")), std::to_string(first.pid()) + "\n");
}

TEST(AgentStart, ACopyStartedByHandHandsOverToAnActiveUnit) {
    FakeSystemctl fake;
    fake.set("is-enabled", "enabled\n");
    fake.set("mainpid", "4242");
    AgentHome h;
    const auto status = runProgram({DOVREL_AGENT_BINARY}, h.options(), 15s);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
    const std::string log = h.log();
    EXPECT_NE(log.find("• supervisor: systemd reports status enabled for com.quendal.dovrel.agent.service\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("• supervisor has the agent (pid 4242) — this copy is done\n"), std::string::npos) << log;
    EXPECT_EQ(log.find(selfCheckHeader), std::string::npos);
    EXPECT_EQ(fake.count("--user start com.quendal.dovrel.agent.service"), 1);
}

TEST(AgentStart, TheSupervisedProcessRunsBesideACopyThatHoldsTheLock) {
    FakeSystemctl fake;
    AgentHome h;
    ChildProcess byHand({DOVREL_AGENT_BINARY}, h.options());
    ASSERT_TRUE(h.waitForLog(banner)) << h.log();
    fake.set("mainpid", "caller");
    ChildProcess supervised({DOVREL_AGENT_BINARY}, h.options({{"DOVREL_SUPERVISED", "1"}}));
    EXPECT_TRUE(h.waitForLog(banner, 2)) << h.log();
    EXPECT_TRUE(supervised.running());
    EXPECT_EQ(readFile(h.home.file(".dovrel/agent.lock")), std::to_string(byHand.pid()) + "\n");
}

TEST(AgentStart, ACrashWritesAReportThatTheNextStartNames) {
    FakeSystemctl fake;
    AgentHome h;
    {
        ChildProcess agent({DOVREL_AGENT_BINARY}, h.options());
        ASSERT_TRUE(h.waitForLog(banner)) << h.log();
        ::kill(agent.pid(), SIGSEGV);
        ASSERT_TRUE(waitUntil([&] { return !agent.running(); }));
    }
    std::string log = h.log();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(log, m, std::regex(" !! FATAL: SIGSEGV — crash report written to (\\S+\\.crash)\n")))
        << log;
    const std::string report = m[1];
    EXPECT_EQ(report.rfind(h.home.file(".dovrel/crashes/DovrelAgent-"), 0), 0u) << report;
    EXPECT_EQ(modeOf(report), 0600u);

    ChildProcess again({DOVREL_AGENT_BINARY}, h.options());
    ASSERT_TRUE(h.waitForLog(banner, 2)) << h.log();
    log = h.log();
    EXPECT_NE(log.find("!! this agent crashed on a previous run — 1 report(s) the OS wrote:\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("   " + report + "\n"), std::string::npos);
    EXPECT_TRUE(std::regex_search(log, std::regex("     DovrelAgent crashed: SIGSEGV \\(signal 11, code 0\\) sent by "
                                                  "pid \\d+ in pid \\d+, started [-0-9]+ [:0-9]+\n")))
        << log;
    EXPECT_NE(log.find("  ! This agent crashed on a previous run\n"), std::string::npos);
    EXPECT_EQ(modeOf(h.home.file(".dovrel/crash-seen")), 0600u);
}

TEST(AgentStart, ACoreFailureEndsWithStatusSeventyAfterTheSelfCheck) {
    FakeSystemctl fake;
    AgentHome h;
    const int held = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::bind(held, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(held, 1);
    socklen_t len = sizeof a;
    ::getsockname(held, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string port = std::to_string(ntohs(a.sin_port));
    const auto status = runProgram({DOVREL_AGENT_BINARY}, h.options({{"DOVREL_CONTROL_PORT", port}}), 15s);
    ::close(held);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 70);
    const std::string log = h.log();
    const auto fatal = log.find("!! FATAL: the agent stopped: ");
    ASSERT_NE(fatal, std::string::npos) << log;
    EXPECT_LT(log.find(selfCheckHeader), fatal);
    EXPECT_NE(
        log.find("   exiting so the supervisor starts a fresh one — see " + h.home.file(".dovrel-agent.log") + "\n"),
        std::string::npos)
        << log;
}

TEST(AgentStart, AWaylandDesktopWithoutGnomesRemoteDesktopIsNamedAsNotSupportedInsteadOfStreamedBlack) {
    SessionBus bus; // a session bus without GNOME's compositor on it
    if (!bus.available()) GTEST_SKIP() << bus.reason();
    FakeSystemctl fake;
    AgentHome h;
    ChildProcess agent({DOVREL_AGENT_BINARY}, h.options({{"WAYLAND_DISPLAY", "wayland-0"},
                                                         {"XDG_SESSION_TYPE", "wayland"},
                                                         {"XDG_CURRENT_DESKTOP", "KDE"},
                                                         {"DBUS_SESSION_BUS_ADDRESS", bus.address()}}));
    ASSERT_TRUE(h.waitForLog("⚠︎ desktop: KDE on Wayland is not supported yet")) << h.log();
    // Capture says why it cannot start, and no picture is ever made of the screen.
    ASSERT_TRUE(h.waitForLog("⚠︎ capture setup failed: capture: KDE on Wayland is not supported yet")) << h.log();
    EXPECT_EQ(h.log().find("• capture "), std::string::npos) << h.log();
}

// Start-up held on a session bus that never answers: no event loop will ever read a stop signal, and
// the agent still ends, with status 0 and without the socket a second copy would knock at in vain.
TEST(AgentStart, AStopWhileStartUpHangsOnTheBusEndsItWithStatusZeroAndItsSocketGone) {
    FakeSystemctl fake;
    AgentHome h;
    SilentBus bus(h.home.file("bus"));
    ASSERT_TRUE(bus.listening());
    ChildProcess agent({DOVREL_AGENT_BINARY}, h.options({{"DBUS_SESSION_BUS_ADDRESS", bus.address()}}));
    const std::string socket = h.home.file("run/com.quendal.dovrel.agent.showWindow");
    ASSERT_TRUE(bus.held(60s)) << h.log();
    ASSERT_TRUE(std::filesystem::exists(socket)) << h.log();
    ASSERT_EQ(::kill(agent.pid(), SIGTERM), 0);
    EXPECT_EQ(agent.wait(60s), 0) << h.log();
    EXPECT_FALSE(std::filesystem::exists(socket));
}
