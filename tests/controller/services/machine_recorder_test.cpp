// A machine goes into the deck only once a session with it stands, with the way that worked: paired
// on the local network from a link it keeps its host, the link's hardware address and the device
// identifier its first session learnt (so it can be unpaired later); an attempt that fails leaves the
// deck as it was.
#include <gtest/gtest.h>

#include "../client/ClientTestSupport.h"
#include "TestAgent.h"
#include "controller/services/MachineRecorder.h"
#include "controller/services/PairLink.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using dovrel::test::TestAgent;

namespace {
struct RecorderTest : ::testing::Test {
    ClientFixture f;
    TestAgent agent;
    std::shared_ptr<UserDefaults> defaults;
    std::unique_ptr<DeviceStore> store;

    void SetUp() override {
        ASSERT_TRUE(agent.listen());
        // The control port comes from the link alone.
        f.config.inputPort = agent.inputPort();
        f.make();
        defaults = std::make_shared<UserDefaults>(f.dir.file("DovrelController.ini"));
        store = std::make_unique<DeviceStore>(defaults, false);
        Device lan;
        lan.name = "Office";
        lan.host = "127.0.0.1";
        store->putFirst(lan);
        store->save();
    }
};
} // namespace

TEST_F(RecorderTest, TheHandshakesIdentifierIsStoredWithTheMachine) {
    MachineRecorder recorder(*f.client, *store);
    const QUuid id = store->devices()[0].id;
    PendingMachine opened;
    opened.machine = store->devices()[0];
    opened.pairing = false;
    recorder.sessionOpening(opened);
    const auto link =
        PairLink::parse(QString("dovrel://pair?code=123456&host=127.0.0.1:%1&kind=linux").arg(agent.controlPort()));
    ASSERT_TRUE(link);
    f.client->connectToHost(link->host, link->code);
    ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
    ASSERT_TRUE(store->find(id)->deviceId);
    EXPECT_EQ(*store->find(id)->deviceId, QString::fromStdString(agent.deviceId()));
    // Written down: a later launch can still unpair it.
    EXPECT_EQ(DeviceStore(defaults, false).devices().at(0).deviceId, QString::fromStdString(agent.deviceId()));
}

TEST_F(RecorderTest, APairingIsSavedOnlyOnceItsSessionStandsWithTheWayThatWorked) {
    MachineRecorder recorder(*f.client, *store);
    const auto link = PairLink::parse(QString("dovrel://pair?host=127.0.0.1:%1&code=123456&name=Den&mac=AA-BB-CC-DD-"
                                              "EE-01&id=%2&relay=relay.example:8443&kind=linux")
                                          .arg(agent.controlPort())
                                          .arg(QString::fromStdString(agent.deviceId())));
    ASSERT_TRUE(link);
    const auto pending = [&] {
        PendingMachine p;
        p.machine.name = link->name;
        p.machine.kind = link->kind;
        p.machine.mac = link->mac;
        p.host = link->host;
        p.relayHost = link->relay;
        return p;
    };

    // Nobody answers there: the attempt fails and the deck stays as it was.
    recorder.sessionOpening(pending());
    f.client->connectToMachine("127.0.0.1:1", "Den", std::nullopt, link->code);
    ASSERT_TRUE(f.waitPhase(PhaseKind::rejected));
    EXPECT_EQ(store->count(), 1);
    EXPECT_EQ(DeviceStore(defaults, false).count(), 1);

    recorder.sessionOpening(pending());
    f.client->connectToMachine(link->host, link->name, std::nullopt, link->code);
    ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
    ASSERT_EQ(store->count(), 2);
    const Device saved = DeviceStore(defaults, false).devices().at(0);
    EXPECT_EQ(saved.name, "Den");
    EXPECT_EQ(saved.kind, Device::Kind::linux);
    EXPECT_EQ(saved.host, link->host);
    EXPECT_EQ(saved.mac, "aa:bb:cc:dd:ee:01") << "the link's hardware address wakes it later";
    EXPECT_EQ(saved.deviceId, QString::fromStdString(agent.deviceId()));
    EXPECT_FALSE(saved.relayHost || saved.relayAccount || saved.relayToken) << "the relay never carried it";
}

TEST(PairedMachine, ARelaySessionKeepsTheRelayAndWhatTheDeckKnew) {
    Device saved;
    saved.name = "Old name";
    saved.host = "10.0.0.4";
    saved.cpu = {0.3};
    saved.relayHost = QStringLiteral("relay.old:8443");
    PendingMachine p;
    p.machine = saved;
    p.machine.name = "Den";
    p.host = "10.0.0.9";
    p.relayAccount = QStringLiteral("team");
    p.relayToken = QStringLiteral("t0k");
    p.relayHost = QStringLiteral("relay.new:9443");
    const Device d = pairedMachine(saved, p, true, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(d.name, "Den");
    EXPECT_EQ(d.host, "10.0.0.4") << "the host that did not answer is not saved";
    EXPECT_EQ(d.relayHost, "relay.new:9443");
    EXPECT_EQ(d.relayAccount, "team");
    EXPECT_EQ(d.cpu, std::vector<double>{0.3});
    EXPECT_EQ(d.state, Device::State::awake);
    EXPECT_EQ(d.lastSeen, "now");

    // Over the local network the relay fields stay as they were.
    const Device lan = pairedMachine(saved, p, false, {});
    EXPECT_EQ(lan.host, "10.0.0.9");
    EXPECT_EQ(lan.relayHost, "relay.old:8443");
    EXPECT_FALSE(lan.relayAccount);
}
