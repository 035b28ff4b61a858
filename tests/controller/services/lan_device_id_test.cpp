// A machine paired on the local network from a link keeps the device identifier its first session
// learnt, so it can be unpaired later.
#include <gtest/gtest.h>

#include "../client/ClientTestSupport.h"
#include "TestAgent.h"
#include "controller/services/LanDeviceIdRecorder.h"
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
    LanDeviceIdRecorder recorder(*f.client, *store);
    const QUuid id = store->devices()[0].id;
    recorder.lanSessionOpening(id);
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
