// Reachability and presence: which machines are probed or looked up, the TCP probe itself, and
// answers that arrive after the deck changed.
#include <gtest/gtest.h>

#include <QTcpServer>

#include "../../support/ClosedPort.h"
#include "../../support/SilentPort.h"
#include "../../support/TestResolver.h"
#include "ServicesTestSupport.h"
#include "controller/platform/FileSecretStore.h"
#include "controller/platform/SecretsThread.h"
#include "controller/platform/TcpReachabilityProbe.h"
#include "controller/services/ReachabilityPoller.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using namespace std::chrono_literals;

namespace {

struct FakeProbe final : ReachabilityProbe {
    struct Asked {
        std::string host;
        uint16_t port;
        std::function<void(ProbeAnswer)> done;
    };
    std::vector<Asked> asked;
    void probe(const std::string& host, uint16_t port, std::chrono::milliseconds timeout,
               std::function<void(ProbeAnswer)> done) override {
        EXPECT_EQ(timeout, 2500ms);
        asked.push_back({host, port, std::move(done)});
    }
    std::vector<std::string> hosts() const {
        std::vector<std::string> out;
        for (const auto& a : asked)
            out.push_back(a.host);
        return out;
    }
};

Device machine(const QString& name, const QString& host, std::optional<QString> deviceId = std::nullopt) {
    Device d;
    d.name = name;
    d.host = host;
    d.deviceId = std::move(deviceId);
    d.state = d.deviceId ? Device::State::awake : Device::State::asleep;
    d.lastSeen = "paired";
    return d;
}

struct PollerTest : ::testing::Test, ApiDoubleFixture {
    std::shared_ptr<UserDefaults> defaults;
    std::unique_ptr<DeviceStore> store;
    dovrel::test::FakeScheduler clock;
    std::shared_ptr<FakeProbe> probe = std::make_shared<FakeProbe>();
    std::shared_ptr<RelayAccount> account;
    std::unique_ptr<ReachabilityPoller> poller;

    void SetUp() override {
        app();
        defaults = std::make_shared<UserDefaults>(dir.file("DovrelController.ini"));
        store = std::make_unique<DeviceStore>(defaults, false);
        account = std::make_shared<RelayAccount>(
            std::make_shared<SecretsThread>(std::make_shared<FileSecretStore>(dir.file("secrets"))), "relay.default",
            8443);
        poller = std::make_unique<ReachabilityPoller>(*store, clock, probe, client, account, false);
    }
    const Device& at(int i) const { return store->devices()[static_cast<std::size_t>(i)]; }
};

} // namespace

TEST_F(PollerTest, EveryHostIsProbedOnItsPortAndRelayMachinesAreLookedUpBesides) {
    api.setLive("team", {"BBBB"});
    const QString token = QString::fromStdString(api.addAccount("team", "pw"));
    // Paired on the network, its identifier learnt since; a routed address; a host name; a scripted port.
    Device lan = machine("Lan", "192.168.1.20", "aaaa");
    Device routed = machine("Routed", "10.8.0.7", "bbbb");
    Device named = machine("Named", "studio.lan", "cccc");
    for (Device* d : {&routed, &named}) {
        d->relayAccount = "team";
        d->relayToken = token;
    }
    store->setDevices({lan, routed, named, machine("Scripted", "127.0.0.1:47900", "dddd"), machine("Nothing", "")});
    poller->start();
    EXPECT_EQ(probe->hosts(), (std::vector<std::string>{"192.168.1.20", "10.8.0.7", "studio.lan", "127.0.0.1"}));
    EXPECT_EQ(probe->asked[0].port, wex::WEX::controlPort);
    EXPECT_EQ(probe->asked[3].port, 47900);
    // Every one of them switched off: only the relay's word keeps a machine awake.
    for (auto& asked : probe->asked)
        asked.done(ProbeAnswer::silent);
    ASSERT_TRUE(waitUntil([&] { return at(1).state == Device::State::awake; }, 15s));
    EXPECT_EQ(at(0).state, Device::State::asleep);
    EXPECT_EQ(at(2).state, Device::State::asleep);
    EXPECT_EQ(at(3).state, Device::State::asleep);
    EXPECT_EQ(api.requests("/v1/presence").size(), 1u) << "two machines of one account: one query";

    // An agent on the network only, off the relay: the probe's answer is enough.
    api.setLive("team", {});
    clock.advance(4s);
    probe->asked[6].done(ProbeAnswer::accepted);
    EXPECT_EQ(at(2).state, Device::State::awake);
    clock.advance(4s);
    ASSERT_TRUE(waitUntil([&] { return at(1).state == Device::State::asleep; }, 15s));
    EXPECT_EQ(at(2).state, Device::State::awake) << "presence is added to the probe, not swapped in";
}

TEST_F(PollerTest, ProbesEveryTickAndRestartsFromZero) {
    store->setDevices({machine("Lan", "192.168.1.20")});
    poller->start();
    EXPECT_EQ(probe->asked.size(), 1u);
    clock.advance(4s);
    EXPECT_EQ(probe->asked.size(), 2u);
    EXPECT_EQ(poller->tick(), 1);
    poller->start(); // a restart begins at tick 0 with a pass at once
    EXPECT_EQ(poller->tick(), 0);
    EXPECT_EQ(probe->asked.size(), 3u);
}

TEST_F(PollerTest, TheSignedInAccountServesMachinesWithoutTokens) {
    const std::string token = api.addAccount("ann", "pw");
    api.setLive("ann", {"ABCD"});
    store->setDevices({machine("Mine", "", "abcd"), machine("Gone", "", "ef01")});
    store->setLiveness(at(0).id, DeviceStore::Liveness::asleep);
    poller->start(); // nobody signed in: both are skipped
    account->save({"ann", QString::fromStdString(token), "relay.default", 8443});
    clock.advance(8s);
    ASSERT_TRUE(waitUntil([&] { return at(1).state == Device::State::asleep; }, 15s));
    EXPECT_EQ(at(0).state, Device::State::awake);
    EXPECT_EQ(at(0).lastSeen, "now");
    EXPECT_EQ(at(1).lastSeen, "asleep");
    ASSERT_EQ(api.requests("/v1/presence").size(), 1u);
    EXPECT_EQ(api.requests("/v1/presence").at(0).header("authorization"), "Bearer " + token);
}

TEST_F(PollerTest, LateProbeAnswersTouchOnlyTheStateOfTheSameMachine) {
    store->setDevices({machine("Renamed", "192.168.1.20"), machine("Removed", "192.168.1.21"),
                       machine("Readded", "192.168.1.22"), machine("Moved", "192.168.1.23"),
                       machine("Quiet", "192.168.1.24")});
    poller->start();
    ASSERT_EQ(probe->asked.size(), 5u);
    ASSERT_TRUE(store->rename(at(0).id, "New name"));
    store->remove(at(1).id);
    Device again = at(1); // "Readded", now at row 1
    store->remove(again.id);
    again.id = QUuid::createUuid();
    store->putFirst(again);
    Device moved = at(2);
    moved.host = "192.168.1.99";
    store->putFirst(moved);
    for (int i = 0; i < 4; ++i)
        probe->asked[static_cast<std::size_t>(i)].done(ProbeAnswer::accepted);
    probe->asked[4].done(ProbeAnswer::silent);

    ASSERT_EQ(store->count(), 4);
    EXPECT_EQ(at(0).name, "Moved");
    EXPECT_EQ(at(0).state, Device::State::asleep); // the answer was for its old address
    EXPECT_EQ(at(1).name, "Readded");
    EXPECT_EQ(at(1).state, Device::State::asleep); // a new machine since
    EXPECT_EQ(at(2).name, "New name");
    EXPECT_EQ(at(2).state, Device::State::awake);
    EXPECT_EQ(at(2).lastSeen, "now");
    EXPECT_EQ(at(3).lastSeen, "paired"); // already asleep: nothing changes
}

TEST_F(PollerTest, ARefusingComputerIsOnWithoutDovrelUntilItsPortTakesConnectionsAgain) {
    const QString token = QString::fromStdString(api.addAccount("team", "pw"));
    api.setLive("team", {"BBBB"});
    Device relayed = machine("Relayed", "192.168.1.21", "bbbb");
    relayed.relayAccount = "team";
    relayed.relayToken = token;
    store->setDevices({machine("Lan", "192.168.1.20"), relayed});
    poller->start();
    probe->asked[0].done(ProbeAnswer::refused);
    probe->asked[1].done(ProbeAnswer::refused);
    EXPECT_TRUE(at(0).state == Device::State::awake && at(0).agentStopped) << "on: nothing to wake";
    // The relay has the agent: it runs, whatever its network port says.
    ASSERT_TRUE(waitUntil([&] { return !at(1).agentStopped; }, 15s));
    clock.advance(4s);
    probe->asked[2].done(ProbeAnswer::accepted);
    EXPECT_TRUE(at(0).state == Device::State::awake && !at(0).agentStopped);
}

TEST_F(PollerTest, NothingInDemoMode) {
    store->setDevices({machine("Lan", "192.168.1.20")});
    ReachabilityPoller(*store, clock, probe, client, account, true).start();
    EXPECT_TRUE(probe->asked.empty());
}

namespace {
struct ProbeTest : ::testing::Test {
    dovrel::test::FakeScheduler clock;
    std::unique_ptr<TcpReachabilityProbe> probe;
    void SetUp() override {
        app();
        probe = std::make_unique<TcpReachabilityProbe>(clock, dovrel::makeSystemResolver());
    }
    std::optional<ProbeAnswer> run(uint16_t port) {
        std::optional<ProbeAnswer> got;
        probe->probe("127.0.0.1", port, 2500ms, [&](ProbeAnswer a) { got = a; });
        waitUntil([&] { return got.has_value(); }, 10s);
        return got;
    }
};

} // namespace

TEST_F(ProbeTest, AnAcceptedConnectionAndARefusalAreToldApart) {
    QTcpServer s;
    ASSERT_TRUE(s.listen(QHostAddress::LocalHost));
    EXPECT_EQ(run(s.serverPort()), ProbeAnswer::accepted);
    EXPECT_EQ(run(dovrel::test::closedPort()), ProbeAnswer::refused); // the machine is up, nothing listens
}

// A name's first address that swallows what is sent to it holds the dial up for its share of the
// time-out only: the next one answers within it.
TEST(Probe, AnAddressThatSwallowsPacketsGivesWayToTheNextWithinTheTimeOut) {
    app();
    QTcpServer s;
    ASSERT_TRUE(s.listen(QHostAddress::LocalHost));
    const dovrel::test::SilentPort swallows("127.0.0.2", s.serverPort());
    TcpReachabilityProbe probe(dovrel::realScheduler(), std::make_shared<dovrel::test::TestResolver>(
                                                            std::map<std::string, std::vector<std::string>>{
                                                                {"office.test", {"127.0.0.2", "127.0.0.1"}}}));
    std::optional<ProbeAnswer> got;
    probe.probe("office.test", s.serverPort(), 4s, [&](ProbeAnswer a) { got = a; });
    ASSERT_TRUE(waitUntil([&] { return got.has_value(); }, 10s));
    EXPECT_EQ(*got, ProbeAnswer::accepted);
}

TEST_F(ProbeTest, SilenceUntilTheTimeOutIsNoAnswer) {
    dovrel::test::SilentPort silent;
    std::optional<ProbeAnswer> got;
    probe->probe("127.0.0.1", silent.port(), 2500ms, [&](ProbeAnswer a) { got = a; });
    probe->runOnProbeThread([&] { clock.advance(2499ms); });
    pump(50ms);
    EXPECT_FALSE(got);
    probe->runOnProbeThread([&] { clock.advance(1ms); });
    ASSERT_TRUE(waitUntil([&] { return got.has_value(); }));
    EXPECT_EQ(*got, ProbeAnswer::silent);
}
