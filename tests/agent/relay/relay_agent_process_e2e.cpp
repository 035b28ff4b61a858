// The real DovrelAgent program behind the relay double: HOME and XDG_CONFIG_HOME in a temporary folder,
// the test's certificate authority named by DOVREL_TEST_CA_FILE, a scripted controller dialling through
// the relay, and the link's delays on the real clock.

#include <arpa/inet.h>
#include <chrono>
#include <fstream>
#include <netinet/in.h>
#include <regex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "../../support/ChildProcess.h"
#include "../../support/ClosedPort.h"
#include "../../support/TempHome.h"
#include "../../support/TestController.h"
#include "protocol/ControlMessages.h"
#include "tests/support/TestCA.h"
#include "tests/support/relay/RelayDouble.h"

using namespace dovrel;
using dovrel::test::closedPort;
using namespace dovrel::test;
using namespace std::chrono_literals;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

bool waitForText(const std::string& path, const std::string& needle, std::chrono::milliseconds timeout = 10000ms) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
        if (readFile(path).find(needle) != std::string::npos) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

// The room of the agent's first registration, as the relay printed it.
std::string registeredRoom(const RelayDouble& relay) {
    static const std::regex re(R"(registered role=agent version=1 room=([0-9a-f]{32}))");
    for (const auto& line : relay.events()) {
        std::smatch m;
        if (std::regex_search(line, m, re)) return m[1];
    }
    return {};
}

struct Rig {
    TempDir certDir;
    TestCertificates certs = makeTestCertificates(certDir.path());
    RelayDouble relay{relayOptions(certs)};
    TempDir home;
    TestController ctl;

    static RelayDouble::Options relayOptions(const TestCertificates& c) {
        RelayDouble::Options o;
        o.certFile = c.certFile;
        o.keyFile = c.keyFile;
        return o;
    }
    Rig() {
        const wex::Bytes key = ctl.publicKey();
        writeFile(home.file(".dovrel/paired"), std::string(key.begin(), key.end()));
    }
    std::string logPath() const { return home.file(".dovrel-agent.log"); }
    // The agent with HOME and XDG_CONFIG_HOME here, no X display, and the test authority trusted.
    std::unique_ptr<ChildProcess> startAgent(const std::string& relayJson) {
        writeFile(home.file(".config/Dovrel/relay.json"), relayJson);
        ChildProcess::Options options;
        options.env = {{"HOME", home.str()},
                       {"XDG_CONFIG_HOME", home.file(".config")},
                       {"DOVREL_TEST_CA_FILE", certs.caFile},
                       {"DISPLAY", ""}};
        return std::make_unique<ChildProcess>(std::vector<std::string>{DOVREL_AGENT_BINARY}, options);
    }
    RelayDial dialRoom(const std::string& room) const {
        RelayDial d;
        d.port = relay.port();
        d.caFile = certs.caFile;
        d.room = room;
        return d;
    }
};

bool pingPong(TestController& c, uint16_t reqId) {
    if (!c.sendSealed(wex::ControlType::ping, wex::Ping{reqId, 1}.encode())) return false;
    const auto pong = c.receiveType(wex::ControlType::pong);
    return pong && wex::Pong::decode(pong->payload).reqId == reqId;
}

} // namespace

TEST(RelayAgentProcess, ServesAControllerThroughTheRelayAndRegistersAgainTwoSecondsAfterItLeft) {
    Rig rig;
    const auto agent =
        rig.startAgent("{\"lan\": false, \"host\": \"127.0.0.1\", \"port\": " + std::to_string(rig.relay.port()) + "}");
    RelayDouble& relay = rig.relay;
    const std::string logPath = rig.logPath();

    ASSERT_TRUE(relay.waitForEvent("registered role=agent version=1")) << readFile(logPath);
    const std::string room = registeredRoom(relay);
    ASSERT_EQ(room.size(), 32u);
    EXPECT_TRUE(waitForText(logPath, "• relay CONNECTED — registering room " + room + " (legacy namespace)"));
    EXPECT_TRUE(
        waitForText(logPath, "⚠︎ relay: also trusting the test certificate authority in " + rig.certs.caFile));

    const RelayDial dial = rig.dialRoom(room);
    ASSERT_TRUE(rig.ctl.connectRelay(dial));
    ASSERT_TRUE(rig.ctl.authenticateWithKey()) << readFile(logPath);
    ASSERT_TRUE(pingPong(rig.ctl, 1));

    rig.ctl.close();
    ASSERT_TRUE(relay.waitForEvent("ended role=client version=1 room=" + room + " by=client"));
    const auto left = std::chrono::steady_clock::now();
    ASSERT_TRUE(relay.waitForEvent("registered role=agent", 10000ms, 2)) << readFile(logPath);
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - left).count();
    EXPECT_GE(waited, 1.8);
    EXPECT_LT(waited, 5.0);
    const std::string log = readFile(logPath);
    EXPECT_NE(log.find("• relay session torn down (client disconnected)"), std::string::npos) << log;
    EXPECT_NE(log.find("• relay cancelled — will re-register in 2s"), std::string::npos) << log;

    // The fresh registration serves the next session.
    TestController again(rig.ctl.identity());
    ASSERT_TRUE(again.connectRelay(dial));
    ASSERT_TRUE(again.authenticateWithKey());
    ASSERT_TRUE(pingPong(again, 2));
}

TEST(RelayAgentProcess, ProbesTheRegionsWhileTheLinkDialsAndMovesItToTheOneThatAnswers) {
    Rig rig;
    const uint16_t closed = closedPort();
    const std::string answering = "127.0.0.1:" + std::to_string(rig.relay.port());
    // No pinned host: the link starts at the default relay while the regions race.
    const auto agent =
        rig.startAgent("{\"lan\": false, \"port\": " + std::to_string(closed) +
                       ", \"regions\": [\"127.0.0.1:" + std::to_string(closed) + "\", \"" + answering + "\"]}");
    const std::string logPath = rig.logPath();
    EXPECT_TRUE(waitForText(logPath, "• relay region: relay.dovrel.net:" + std::to_string(closed) + " → " + answering +
                                         " (nearest)"))
        << readFile(logPath);
    ASSERT_TRUE(rig.relay.waitForEvent("registered role=agent version=1")) << readFile(logPath);
    // The latest pairing link names the region the link moved to, whichever came first: the probe or
    // the first link.
    EXPECT_TRUE(waitForText(logPath, "&relay=" + answering + "&kind=linux")) << readFile(logPath);
    const std::string log = readFile(logPath);
    EXPECT_EQ(log.compare(log.rfind("&relay="), answering.size() + 7, "&relay=" + answering), 0) << log;

    ASSERT_TRUE(rig.ctl.connectRelay(rig.dialRoom(registeredRoom(rig.relay))));
    ASSERT_TRUE(rig.ctl.authenticateWithKey()) << readFile(logPath);
    ASSERT_TRUE(pingPong(rig.ctl, 3));
}
