// A machine paired on the local network from a link keeps the device identifier its first session
// learnt, so it can be unpaired later; it is saved only once that session stands, with the way that
// worked.
#include <gtest/gtest.h>

#include "../client/ClientTestSupport.h"
#include "TestAgent.h"
#include "controller/services/MachineRecorder.h"
#include "controller/services/PairLink.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using dovrel::test::TestAgent;

namespace {
struct LanIdTest : ::testing::Test {
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

TEST_F(LanIdTest, TheHandshakesIdentifierIsStoredWithTheMachine) {
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

TEST_F(LanIdTest, APairingIsSavedOnlyOnceItsSessionStandsWithTheWayThatWorked) {
    MachineRecorder recorder(*f.client, *store);
    PendingMachine p;
    p.machine.name = "Den";
    p.host = QString("127.0.0.1:%1").arg(agent.controlPort());
    p.relayHost = QStringLiteral("relay.example:8443");
    recorder.sessionOpening(p);
    f.client->connectToMachine("127.0.0.1:1", "Den", std::nullopt, "123456"); // nobody there
    ASSERT_TRUE(f.waitPhase(PhaseKind::rejected));
    EXPECT_EQ(DeviceStore(defaults, false).count(), 1) << "a failed attempt saves nothing";

    recorder.sessionOpening(p);
    f.client->connectToMachine(p.host, "Den", std::nullopt, "123456");
    ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
    const Device saved = DeviceStore(defaults, false).devices().at(0);
    EXPECT_EQ(saved.host, p.host);
    EXPECT_FALSE(saved.relayHost) << "the relay never carried it";
}
