#pragma once

// An agent in this process whose relay link registers at a relay double, with the test's certificate
// authority trusted through DOVREL_TEST_CA_FILE and HOME and XDG_CONFIG_HOME in a temporary folder, and
// scripted controllers that reach it through the relay.

#include <arpa/inet.h>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "../service/AgentTestSupport.h"
#include "tests/support/ClosedPort.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TestCA.h"
#include "tests/support/TestResolver.h"
#include "tests/support/relay/RelayDouble.h"

namespace dovrel::test {

inline RelayDouble::Options relayWith(const std::function<void(RelayDouble::Options&)>& set) {
    RelayDouble::Options o;
    set(o);
    return o;
}

inline std::string jsonString(const std::string& s) { return "\"" + s + "\""; }

// relay.json for a pinned relay, on loopback unless `host` names another; `extra` is more of the
// object's members (", \"k\": v").
inline std::string pinnedRelayJson(uint16_t port, bool lan = false, const std::string& extra = "",
                                   const std::string& host = "127.0.0.1") {
    return std::string("{\"lan\": ") + (lan ? "true" : "false") + ", \"host\": " + jsonString(host) +
           ", \"port\": " + std::to_string(port) + extra + "}";
}

inline std::string accountJson(const std::string& account, const std::string& token) {
    return ", \"account\": " + jsonString(account) + ", \"token\": " + jsonString(token);
}

class RelayLinkTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        certDir_ = std::make_unique<TempDir>();
        certs_ = makeTestCertificates(certDir_->path());
    }
    static void TearDownTestSuite() { certDir_.reset(); }

    void SetUp() override {
        qtApp();
        env_.set("HOME", envHome_.str());
        env_.set("XDG_CONFIG_HOME", envHome_.file(".config"));
        env_.set("DOVREL_TEST_CA_FILE", certs_.caFile);
    }
    void TearDown() override {
        // The agent goes before its relays, so that no re-dial races their end.
        agents_.clear();
        relays_.clear();
    }

    RelayDouble& startRelay(RelayDouble::Options o = {}) {
        if (o.certFile.empty()) {
            o.certFile = certs_.certFile;
            o.keyFile = certs_.keyFile;
        }
        relays_.push_back(std::make_unique<RelayDouble>(o));
        return *relays_.back();
    }

    AgentHarness& startAgent(AgentHarness::Options o) {
        agents_.push_back(std::make_unique<AgentHarness>(std::move(o)));
        return *agents_.back();
    }

    // An agent registered at `relay` by room (version 1), with `ctl` paired.
    AgentHarness& agentAt(const RelayDouble& relay, const TestController& paired, bool lan = false,
                          const std::string& extraJson = "") {
        AgentHarness::Options o = pairedWith(paired, true);
        o.lan = lan;
        o.relayJson = pinnedRelayJson(relay.port(), lan, extraJson);
        return startAgent(std::move(o));
    }

    static std::string room(const AgentHarness& h) { return h.agent->deviceId(); }

    RelayDial dial(const RelayDouble& relay, const AgentHarness& h, const std::string& account = "",
                   const std::string& token = "") const {
        RelayDial d;
        d.port = relay.port();
        d.caFile = certs_.caFile;
        d.room = room(h);
        d.account = account;
        d.token = token;
        return d;
    }

    static bool registered(const RelayDouble& relay, const AgentHarness& h, std::size_t times = 1,
                           std::chrono::milliseconds timeout = 10000ms) {
        return relay.waitForEvent("registered role=agent", timeout, times) && relay.countEvents("room=" + room(h)) > 0;
    }

    // Lets the real sockets settle, then moves the agent's clock.
    static void advance(AgentHarness& h, Duration d) {
        h.letArrive();
        h.advance(d);
    }

    static std::unique_ptr<TempDir> certDir_;
    static TestCertificates certs_;
    TempDir envHome_;
    ScopedEnv env_;
    std::vector<std::unique_ptr<RelayDouble>> relays_;
    std::vector<std::unique_ptr<AgentHarness>> agents_;
};

inline std::unique_ptr<TempDir> RelayLinkTest::certDir_;
inline TestCertificates RelayLinkTest::certs_;

} // namespace dovrel::test
