// Input from the real client to the scripted agent: sealed on the input stream by UDP on the local
// network and on the relay stream, in order; nothing made outside a session arrives later; modifiers
// held when the user ends the session are let go of before the bye.
#include <gtest/gtest.h>

#include "InputChannelFake.h"
#include "SessionFixture.h"
#include "TestRelayStub.h"
#include "controller/client/session/InputBinding.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace dovrel::controller::test;
using Entry = wex::InputBatch::Entry;

namespace {

std::vector<Entry> received(const dovrel::test::TestAgent& agent) {
    std::vector<Entry> out;
    for (const auto& b : agent.inputBatches)
        out.insert(out.end(), b.events.begin(), b.events.end());
    return out;
}

struct InputSessionFixture : SessionFixture {
    dovrel::test::FakeScheduler mainClock;
};

} // namespace

TEST_F(InputSessionFixture, BatchesArriveSealedInOrderAndNothingFromBeforeTheSession) {
    auto input = makeRemoteInput(client(), mainClock);
    input->typeText("before"); // no session yet: dropped, never held for the next one
    connect();
    input->typeText("hi\nthere");
    input->click(2, 1);
    ASSERT_TRUE(waitUntil([&] { return received(agent).size() >= 6; }));
    settle();
    EXPECT_EQ(received(agent), (std::vector<Entry>{text("hi"), key(0x28, true), key(0x28, false), text("there"),
                                                   button(640, 360, 2, true), button(640, 360, 2, false)}));
    EXPECT_EQ(agent.inputDatagrams, 2);
}

// Whoever sees the phase turn to connected (the session screen, a user typing at once, the clipboard
// services) finds the session's input open and its start already told.
TEST_F(InputSessionFixture, TheSessionTakesInputFromTheMomentItShowsConnected) {
    WEXClient& c = client();
    bool established = false;
    bool seenConnected = false;
    uint64_t sessionWhenShown = 0;
    bool establishedWhenShown = false;
    QObject::connect(&c, &WEXClient::sessionEstablished, &c, [&] { established = true; });
    QObject::connect(&c, &WEXClient::phaseChanged, &c, [&] {
        if (seenConnected || c.phaseKind() != PhaseKind::connected) return;
        seenConnected = true;
        sessionWhenShown = c.inputSession();
        establishedWhenShown = established;
    });
    connect();
    EXPECT_NE(sessionWhenShown, 0u);
    EXPECT_TRUE(establishedWhenShown);
}

TEST_F(InputSessionFixture, ModifiersHeldWhenTheUserEndsTheSessionAreLetGoOfFirst) {
    auto input = makeRemoteInput(client(), mainClock);
    connect();
    input->setModifiers(RemoteInput::control | RemoteInput::command);
    client().disconnectSession();
    ASSERT_TRUE(waitUntil([&] { return agent.connectionsEnded == 1; }));
    ASSERT_TRUE(waitUntil([&] { return received(agent).size() == 4; }));
    EXPECT_EQ(received(agent), (std::vector<Entry>{key(0xE0, true, 0x2), key(0xE3, true, 0xA), key(0xE0, false, 0x8),
                                                   key(0xE3, false, 0x0)}));
    EXPECT_EQ(input->heldModifiers(), 0);
}

TEST(InputThroughTheRelay, BatchesTravelOnTheRelayStream) {
    app();
    dovrel::test::TestCertificate cert;
    if (!cert.available()) GTEST_SKIP() << cert.reason();
    dovrel::test::TestRelayStub relay(cert);
    dovrel::test::TestAgent agent;
    ASSERT_TRUE(relay.listen());
    ASSERT_TRUE(agent.listen());
    relay.route(agent.deviceId(), &agent);
    ClientFixture f;
    f.config.defaultRelayHost = "localhost";
    f.config.defaultRelayPort = relay.port();
    f.config.relayCaFile = cert.caFile();
    WEXClient& c = f.make();
    dovrel::test::FakeScheduler clock;
    auto input = makeRemoteInput(c, clock);
    c.connectViaRelay(RelayDial{agent.deviceId(), "Office", {}, {}, {}}, "123456");
    ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
    input->sendKey(0x29);
    input->typeText("é");
    ASSERT_TRUE(waitUntil([&] { return received(agent).size() == 2; }));
    EXPECT_EQ(received(agent), (std::vector<Entry>{key(0x29, true), text("é")}));
    EXPECT_EQ(agent.inputDatagrams, 0);
}
