#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <QCoreApplication>
#include <QThread>

#include "../WaitUntil.h"
#include "FakeScheduler.h"
#include "TempHome.h"
#include "controller/client/link/ClientSecurity.h"
#include "controller/client/session/ClientCore.h"
#include "controller/client/session/WEXClient.h"
#include "controller/platform/FileSecretStore.h"

namespace dovrel::controller::test {

using namespace std::chrono_literals;

inline QCoreApplication& app() {
    // A test of the window has made its QGuiApplication already: a second application breaks the first.
    if (QCoreApplication* made = QCoreApplication::instance()) return *made;
    static int argc = 1;
    static char arg0[] = "client_tests";
    static char* argv[] = {arg0, nullptr};
    static QCoreApplication a(argc, argv);
    return a;
}

// Nobody is signed in to a relay account.
struct NoRelayAccount final : StoredRelayAccount {
    std::optional<wex::RelayIdentity> storedRelayIdentity() const override { return std::nullopt; }
};

// The client's identity, once read from its secret store (off the main thread, just after it is made).
inline const wex::DeviceIdentity& identityOf(WEXClient& client) {
    waitUntil([&] { return client.security().hasIdentity(); });
    return client.security().identity();
}

// A client with private settings and secrets in a temporary folder, dialling loopback.
struct ClientFixture {
    dovrel::test::TempDir dir;
    std::unique_ptr<dovrel::test::FakeScheduler> fake;
    ClientConfig config;
    std::shared_ptr<const StoredRelayAccount> relayAccount = std::make_shared<NoRelayAccount>();
    std::unique_ptr<WEXClient> client;

    explicit ClientFixture(bool fakeClock = false) {
        app();
        if (fakeClock) fake = std::make_unique<dovrel::test::FakeScheduler>();
        config.scheduler = fake.get();
        config.settingsPath = dir.file("DovrelController.ini");
        config.secrets = std::make_shared<FileSecretStore>(dir.file("secrets"));
        config.videoPort = 0;
        config.deviceName = "test-controller";
    }

    // Returns once the client has read its identity, as a program running for a moment has.
    WEXClient& make() {
        client = std::make_unique<WEXClient>(config, relayAccount);
        identityOf(*client);
        return *client;
    }

    // The controller's public key, made with a first client and kept in the fixture's secret store, for
    // an agent to pair; that agent (its key, its relay room) is trusted from then on.
    wex::Bytes keyTrusting(const wex::Bytes& agentKey, const std::string& agentRoom) {
        WEXClient& first = make();
        const auto& own = identityOf(first).publicKey();
        wex::Bytes key(own.begin(), own.end());
        first.security().trustAgent(agentKey, agentRoom);
        client.reset();
        return key;
    }

    // Moves the fake clock on the client thread, in steps, letting sockets work in between.
    void advance(std::chrono::milliseconds total, std::chrono::milliseconds step = 100ms) {
        for (std::chrono::milliseconds done{0}; done < total; done += step) {
            client->runOnClientThread([&](ClientCore&) { fake->advance(step); });
            pump(15ms);
        }
    }

    PhaseKind phase() const { return client->phaseKind(); }
    std::string status() const { return client->status().toStdString(); }
    std::string message() const { return client->phaseMessage().toStdString(); }
    bool waitPhase(PhaseKind k, std::chrono::milliseconds limit = 5s) {
        return waitUntil([&] { return client->phaseKind() == k; }, limit);
    }
};

} // namespace dovrel::controller::test
