// The real DovrelAgent program behind the relay double: HOME and XDG_CONFIG_HOME in a temporary folder,
// the test's certificate authority named by DOVREL_TEST_CA_FILE, a scripted controller dialling through
// the relay, and the link's delays on the real clock.

#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "../../support/ChildProcess.h"
#include "../../support/TempHome.h"
#include "../../support/TestController.h"
#include "protocol/ControlMessages.h"
#include "tests/support/TestCA.h"
#include "tests/support/relay/RelayDouble.h"

using namespace dovrel;
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

bool pingPong(TestController& c, uint16_t reqId) {
    if (!c.sendSealed(wex::ControlType::ping, wex::Ping{reqId, 1}.encode())) return false;
    const auto pong = c.receiveType(wex::ControlType::pong);
    return pong && wex::Pong::decode(pong->payload).reqId == reqId;
}

} // namespace

TEST(RelayAgentProcess, ServesAControllerThroughTheRelayAndRegistersAgainTwoSecondsAfterItLeft) {
    TempDir certDir;
    const TestCertificates certs = makeTestCertificates(certDir.path());
    RelayDouble::Options relayOptions;
    relayOptions.certFile = certs.certFile;
    relayOptions.keyFile = certs.keyFile;
    RelayDouble relay(relayOptions);

    TempDir home;
    TestController ctl;
    const wex::Bytes key = ctl.publicKey();
    writeFile(home.file(".dovrel/paired"), std::string(key.begin(), key.end()));
    writeFile(home.file(".config/Dovrel/relay.json"),
              "{\"host\": \"127.0.0.1\", \"port\": " + std::to_string(relay.port()) + "}");
    ChildProcess::Options options;
    options.env = {{"HOME", home.str()},
                   {"XDG_CONFIG_HOME", home.file(".config")},
                   {"DOVREL_TEST_CA_FILE", certs.caFile},
                   {"DISPLAY", ""}};
    ChildProcess agent({DOVREL_AGENT_BINARY}, options);
    const std::string logPath = home.file(".dovrel-agent.log");

    ASSERT_TRUE(relay.waitForEvent("registered role=agent version=1")) << readFile(logPath);
    const std::string room = registeredRoom(relay);
    ASSERT_EQ(room.size(), 32u);
    EXPECT_TRUE(waitForText(logPath, "• relay CONNECTED — registering room " + room + " (legacy namespace)"));
    EXPECT_TRUE(waitForText(logPath, "⚠︎ relay: also trusting the test certificate authority in " + certs.caFile));

    RelayDial dial;
    dial.port = relay.port();
    dial.caFile = certs.caFile;
    dial.room = room;
    ASSERT_TRUE(ctl.connectRelay(dial));
    ASSERT_TRUE(ctl.authenticateWithKey()) << readFile(logPath);
    ASSERT_TRUE(pingPong(ctl, 1));

    ctl.close();
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
    TestController again(ctl.identity());
    ASSERT_TRUE(again.connectRelay(dial));
    ASSERT_TRUE(again.authenticateWithKey());
    ASSERT_TRUE(pingPong(again, 2));
}
