// The real DovrelAgent program on loopback, with HOME in a temporary folder: start-up, log, a session
// by key and by code, the fatal exit, and its advertisement as avahi-browse sees it.

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "../../support/AvahiDaemon.h"
#include "../../support/TempHome.h"
#include "../../support/TestController.h"
#include "AgentProcess.h"
#include "protocol/ControlMessages.h"

using namespace dovrel;
using namespace dovrel::test;
using namespace std::chrono_literals;

using namespace dovrel::test::agentprocess;

TEST(AgentProcess, StartsWithItsStateInHomeAndServesAPairedController) {
    TempDir home;
    TestController c;
    writeFile(home.file(".config/Dovrel/relay.json"), "{\"lan\": true}");
    const wex::Bytes key = c.publicKey();
    writeFile(home.file(".dovrel/paired"), std::string(key.begin(), key.end()));
    AgentProcess agent(home, lanOnLoopback(c), false);

    const std::string logPath = home.file(".dovrel-agent.log");
    std::string log;
    const auto m = waitForMatch([&] { return readFile(logPath); }, banner, log);
    ASSERT_FALSE(m.empty()) << log;
    const auto control = static_cast<uint16_t>(std::stoi(m[1]));
    const auto input = static_cast<uint16_t>(std::stoi(m[2]));

    ASSERT_TRUE(c.connect(control, input));
    ASSERT_TRUE(c.authenticateWithKey());
    ASSERT_TRUE(c.sendSealed(wex::ControlType::ping, wex::Ping{4, 44}.encode()));
    const auto pong = c.receiveType(wex::ControlType::pong);
    ASSERT_TRUE(pong);
    EXPECT_EQ(wex::Pong::decode(pong->payload).reqId, 4);

    log = readFile(logPath);
    // Every line carries the local time stamp.
    EXPECT_TRUE(std::regex_search(
        log, std::regex(R"((^|\n)\d\d-\d\d \d\d:\d\d:\d\d\.\d\d\d • identity [0-9a-f]{16}…  paired devices: 1\n)")))
        << log;
    EXPECT_NE(log.find("• pairing code ready - shown in the agent window, deliberately not written to this log"),
              std::string::npos);
    EXPECT_NE(log.find("&code=…redacted…&"), std::string::npos);
    EXPECT_EQ(log.find("PAIRING CODE"), std::string::npos);
    EXPECT_NE(log.find("• AUTH OK (keypair) — streaming ENCRYPTED"), std::string::npos);
    EXPECT_EQ(modeOf(logPath), 0600u);
    EXPECT_EQ(modeOf(home.file(".dovrel")), 0700u);
    EXPECT_EQ(modeOf(home.file(".dovrel/agent.key")), 0600u);
}

TEST(AgentProcess, OnATerminalItShowsEachNewCodeAndTheCodeShownPairs) {
    TempDir home;
    TestController c;
    writeFile(home.file(".config/Dovrel/relay.json"), "{\"lan\": true}");
    AgentProcess agent(home, lanOnLoopback(c), true);
    std::string out;
    const auto ports = waitForMatch([&] { return agent.terminal(); }, banner, out);
    ASSERT_FALSE(ports.empty()) << out;
    const auto code = waitForMatch(
        [&] { return agent.terminal(); },
        std::regex(R"(• PAIRING CODE: (\d{6})   \(type it in DOVRELÆ on the other computer to pair it\))"), out);
    ASSERT_FALSE(code.empty()) << out;
    ASSERT_TRUE(c.connect(static_cast<uint16_t>(std::stoi(ports[1])), static_cast<uint16_t>(std::stoi(ports[2]))));
    EXPECT_TRUE(c.authenticateWithCode(code[1]));
    EXPECT_FALSE(std::filesystem::exists(home.file(".dovrel-agent.log"))) << "on a terminal the log stays there";
    const wex::Bytes key = c.publicKey();
    EXPECT_EQ(readFile(home.file(".dovrel/paired")), std::string(key.begin(), key.end()));

    // The pairing drew a new code: the terminal shows it, and it is the one that pairs the next device.
    const auto next =
        waitForMatch([&] { return agent.terminal(); },
                     std::regex(R"(rotated after a successful pair[^\n]*\n[^\n]*• PAIRING CODE: (\d{6}) )"), out);
    ASSERT_FALSE(next.empty()) << out;
    c.close(); // one session at a time: the next device comes once the agent has seen this one go
    ASSERT_FALSE(waitForMatch([&] { return agent.terminal(); }, std::regex("client gone"), out).empty()) << out;
    TestController second;
    ASSERT_TRUE(second.connect(static_cast<uint16_t>(std::stoi(ports[1])), static_cast<uint16_t>(std::stoi(ports[2]))));
    EXPECT_TRUE(second.authenticateWithCode(next[1])) << agent.terminal();
}

TEST(AgentProcess, ACoreFailureLogsTheFatalLinesAndExitsWithSeventy) {
    TempDir home;
    writeFile(home.file(".config/Dovrel/relay.json"), "{\"lan\": true}");
    const int held = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::bind(held, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(held, 1);
    socklen_t len = sizeof a;
    ::getsockname(held, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string port = std::to_string(ntohs(a.sin_port));

    AgentProcess agent(home, {{"DOVREL_CONTROL_PORT", port}, {"DOVREL_INPUT_PORT", "0"}}, false);
    const auto status = agent.waitExit(10000ms);
    ::close(held);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 70);
    const std::string log = readFile(home.file(".dovrel-agent.log"));
    EXPECT_NE(log.find("!! FATAL: the agent stopped: transport: cannot listen on TCP port " + port), std::string::npos)
        << log;
    EXPECT_NE(log.find("   exiting so the supervisor starts a fresh one — see " + home.file(".dovrel-agent.log")),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("Dovrel agent up"), std::string::npos);
}

TEST(AgentProcess, ItsServiceIsSeenByAvahiBrowse) {
    AvahiDaemon daemon;
    if (!daemon.available()) GTEST_SKIP() << "no Avahi daemon: " << daemon.reason();
    TempDir home;
    TestController c;
    writeFile(home.file(".config/Dovrel/relay.json"), "{\"lan\": true}");
    AgentProcess agent(home, lanOnLoopback(c), false);
    std::string log;
    const auto ports = waitForMatch([&] { return readFile(home.file(".dovrel-agent.log")); }, banner, log);
    ASSERT_FALSE(ports.empty()) << log;
    const std::string controlPort = ports[1];
    // The pairing link is logged a moment after the banner.
    const auto id =
        waitForMatch([&] { return readFile(home.file(".dovrel-agent.log")); }, std::regex("&id=([0-9a-f]{32})&"), log);
    ASSERT_FALSE(id.empty()) << log;

    // "=;iface;proto;name;type;domain;host;address;port;txt…"
    const std::regex resolved("=;[^;]*;[^;]*;[^;]*;_dovrel\\._tcp;[^;]*;[^;]*;[^;]*;" + controlPort + ";(.*)");
    std::string browse;
    // Each look is cut off after a few seconds: a resolution can stall while other services come and go.
    const auto seen =
        waitForMatch([] { return runCommand("timeout 5 avahi-browse -rpt _dovrel._tcp 2>/dev/null").output; }, resolved,
                     browse, 15000ms);
    ASSERT_FALSE(seen.empty()) << browse << "\n" << readFile(home.file(".dovrel-agent.log"));
    const std::string txt = seen[1];
    EXPECT_NE(txt.find("\"id=" + id[1] + "\""), std::string::npos) << txt;
    EXPECT_NE(txt.find("\"r=1\""), std::string::npos) << txt;
    EXPECT_NE(txt.find("\"v=1\""), std::string::npos) << txt;
    EXPECT_NE(txt.find("\"n="), std::string::npos) << txt;
}
