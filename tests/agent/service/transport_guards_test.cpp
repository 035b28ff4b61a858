// The transport's session guards, framing and input path, through a real agent on loopback with a fake
// clock: handshake deadlines, the idle drop, input datagrams, garbage in the stream.

#include <gtest/gtest.h>

#include "AgentTestSupport.h"
#include "protocol/ControlMessages.h"
#include "protocol/Frame.h"

using namespace dovrel;
using namespace dovrel::test;
using namespace std::chrono_literals;

namespace {

wex::InputBatch oneKey() {
    wex::InputBatch b;
    b.events.push_back({{}, wex::KeyEvent{wex::KeyEvent::makeUsage(7, 4), 1, 0}});
    return b;
}

// Whether the agent holds a client connection; one that has sent nothing leaves no line to wait for.
bool holdsClient(AgentHarness& h) {
    agent::AgentTransport::ClientId id = 0;
    h.agent->transport().queue().sync([&] { id = h.agent->transport().currentClient(); });
    return id != 0;
}

} // namespace

TEST(TransportGuards, UnauthenticatedClientsAreDroppedAtEachHandshakeDeadline) {
    AgentHarness h;
    // Nothing at all: 10 s.
    ASSERT_TRUE(h.connect(h.ctl));
    ASSERT_TRUE(waitUntil([&] { return holdsClient(h); }));
    h.advance(9999ms);
    EXPECT_TRUE(h.ctl.quietFor(30ms));
    h.advance(1ms);
    EXPECT_TRUE(h.ctl.closedByAgent());
    EXPECT_TRUE(h.log.has("• dropping unauthenticated client — no HELLO within 10s"));

    // Hello but no Auth: 180 s from the Hello.
    ASSERT_TRUE(h.connect(h.ctl));
    h.ctl.sendHello();
    ASSERT_TRUE(h.ctl.awaitHelloAck());
    h.advance(179s);
    EXPECT_TRUE(h.ctl.quietFor(30ms));
    h.advance(1s);
    EXPECT_TRUE(h.ctl.closedByAgent());
    EXPECT_TRUE(h.log.has("• dropping unauthenticated client — no AUTH after HELLO within 180s"));

    // An Auth that cannot complete (no Hello before it): 15 s from the Auth.
    ASSERT_TRUE(h.connect(h.ctl));
    wex::Auth auth;
    auth.authMode = wex::AuthMode::keypair;
    h.ctl.sendPlain(wex::ControlType::auth, auth.encode());
    h.letArrive();
    h.advance(14s);
    EXPECT_TRUE(h.ctl.quietFor(30ms));
    h.advance(1s);
    EXPECT_TRUE(h.ctl.closedByAgent());
    EXPECT_TRUE(h.log.has("• dropping unauthenticated client — AUTH did not complete within 15s"));
}

TEST(TransportGuards, ConnectionsThatCloseWithoutAWordLeaveNoLineAndNoDeviceConnecting) {
    AgentHarness h;
    // The controller's reachability checks: a connection opened and closed, every few seconds.
    for (int i = 0; i < 3; ++i) {
        TestController probe;
        ASSERT_TRUE(h.connect(probe));
        ASSERT_TRUE(waitUntil([&] { return holdsClient(h); }));
        probe.close();
        ASSERT_TRUE(waitUntil([&] { return !holdsClient(h); }));
    }
    h.pumpMain();
    EXPECT_FALSE(h.log.has("TCP"));
    EXPECT_FALSE(h.log.has("control connection"));
    EXPECT_EQ(h.model.statusText(), "Waiting for your device to pair…");
}

TEST(TransportGuards, AnIdleClientIsDroppedAndForgedDatagramsDoNotKeepItAlive) {
    TestController paired;
    AgentHarness h(pairedWith(paired));
    ASSERT_TRUE(h.connect(paired));
    ASSERT_TRUE(paired.authenticateWithKey());
    h.settle();

    // Datagrams that do not open (junk, and a frame sealed under other keys) do not count as traffic.
    for (int i = 0; i < 5; ++i) {
        paired.sendDatagram(wex::Bytes(60, static_cast<uint8_t>(i)));
        const wex::SessionKeys other = wex::SessionKeys::fromBytes(wex::Bytes(32, 1), wex::Bytes(32, 2));
        wex::SecureSession forged(other, wex::Direction::clientToAgent);
        paired.sendDatagram(forged.sealNext(wex::Stream::input, 1, 1, 0, oneKey().encode()));
    }
    h.letArrive();
    h.advance(15s);
    EXPECT_FALSE(h.log.has("• dropping idle client"));
    h.advance(5s);
    ASSERT_TRUE(h.log.waitFor("• dropping idle client — no traffic for 15s"));
    EXPECT_TRUE(paired.closedByAgent());
    EXPECT_EQ(h.agent->transport().sendTarget(), nullptr);
    EXPECT_FALSE(h.rec->has("apply:5"));
}

TEST(TransportGuards, AuthenticInputKeepsTheClientAliveAndIsInjectedInOrder) {
    TestController paired;
    AgentHarness h(pairedWith(paired));
    ASSERT_TRUE(h.connect(paired));
    ASSERT_TRUE(paired.authenticateWithKey());
    h.advance(10s);
    wex::InputBatch batch;
    batch.events.push_back({{}, wex::MouseMoveEvent{0, 10 << 16, 20 << 16, 0}});
    batch.events.push_back({{}, wex::KeyEvent{wex::KeyEvent::makeUsage(7, 4), 1, 0}});
    wex::InputBatch::Entry text;
    text.event.body.emplace<wex::TextEvent>(wex::TextEvent{"hé"});
    batch.events.push_back(std::move(text));
    ASSERT_TRUE(paired.sendInput(batch));
    ASSERT_TRUE(h.rec->waitFor("apply:7"));
    const auto calls = h.rec->all();
    const auto first = std::find(calls.begin(), calls.end(), "apply:1");
    ASSERT_NE(first, calls.end());
    ASSERT_LT(first + 2, calls.end());
    EXPECT_EQ(*(first + 1), "apply:5");
    EXPECT_EQ(*(first + 2), "apply:7");
    h.advance(10s); // 20 s after the session began, 10 s after the input
    EXPECT_FALSE(h.log.has("• dropping idle client"));
    h.advance(10s);
    EXPECT_TRUE(h.log.waitFor("• dropping idle client — no traffic for 15s"));

    // Input sealed on another stream is not input.
    EXPECT_EQ(h.rec->count("apply:5"), 1u);
}

TEST(TransportGuards, InputBeforeAuthenticationIsDroppedWithOneLineASecond) {
    AgentHarness h;
    ASSERT_TRUE(h.connect(h.ctl));
    for (int i = 0; i < 20; ++i)
        h.ctl.sendDatagram(wex::Bytes(40, 0x52));
    h.letArrive();
    EXPECT_EQ(h.log.count("• dropped INPUT datagram — no authenticated session"), 1u);
    h.advance(1s);
    h.ctl.sendDatagram(wex::Bytes(40, 0x52));
    EXPECT_TRUE(waitUntil([&] { return h.log.count("• dropped INPUT datagram — no authenticated session") == 2; }));
    EXPECT_FALSE(h.rec->has("apply:5"));
}

TEST(TransportGuards, GarbageBeforeAValidFrameCostsOneByteAtATime) {
    AgentHarness h;
    ASSERT_TRUE(h.connect(h.ctl));
    // Bytes that look like the start of a header (magic, version) but never check out, then junk.
    wex::Bytes garbage;
    for (int i = 0; i < 3000; ++i) {
        garbage.push_back(0x52);
        garbage.push_back(0x01);
        garbage.push_back(static_cast<uint8_t>(i * 7));
    }
    ASSERT_TRUE(h.ctl.sendRaw(garbage));
    h.ctl.sendHello();
    EXPECT_TRUE(h.ctl.awaitHelloAck());
}

TEST(TransportGuards, FramesSplitAcrossReadsOrSharingOneAreEachDeliveredOnce) {
    TestController paired;
    AgentHarness h(pairedWith(paired));
    ASSERT_TRUE(h.connect(paired));
    ASSERT_TRUE(paired.authenticateWithKey());
    ASSERT_TRUE(paired.hasSession());

    // Two pings glued into one write, then a third sent a few bytes at a time.
    wex::Bytes glued = paired.sealed(wex::ControlType::ping, wex::Ping{1, 11}.encode());
    const wex::Bytes second = paired.sealed(wex::ControlType::ping, wex::Ping{2, 22}.encode());
    glued.insert(glued.end(), second.begin(), second.end());
    ASSERT_TRUE(paired.sendRaw(glued));
    const wex::Bytes third = paired.sealed(wex::ControlType::ping, wex::Ping{3, 33}.encode());
    for (std::size_t at = 0; at < third.size(); at += 5) {
        paired.sendRaw(wex::ByteView(third).subspan(at, std::min<std::size_t>(5, third.size() - at)));
        std::this_thread::sleep_for(1ms);
    }
    for (uint16_t id = 1; id <= 3; ++id) {
        const auto pong = paired.receiveType(wex::ControlType::pong);
        ASSERT_TRUE(pong);
        EXPECT_EQ(wex::Pong::decode(pong->payload).reqId, id);
    }
    EXPECT_TRUE(paired.quietFor(50ms)) << "each frame is delivered once";
}

TEST(TransportGuards, SealedFramesBeforeTheSessionAndPlainOnesInsideItAreRefused) {
    TestController paired;
    AgentHarness h(pairedWith(paired));
    ASSERT_TRUE(h.connect(paired));
    // A frame flagged sealed before any session: the dispatcher refuses it.
    wex::HeaderFlags sealed;
    sealed.insert(wex::HeaderFlag::encryptedApp);
    wex::Bytes frame = wex::buildFrame(wex::Stream::control, 13, 0, sealed, wex::Ping{1, 2}.encode());
    frame.resize(frame.size() + 16, 0); // the tag
    paired.sendRaw(frame);
    ASSERT_TRUE(h.log.waitFor("• dropped ping — not authenticated (sealed=true, session=false)"));
    paired.sendPlain(wex::ControlType::ping, wex::Ping{1, 2}.encode());
    ASSERT_TRUE(h.log.waitFor("• dropped ping — not authenticated (sealed=false, session=false)"));

    ASSERT_TRUE(paired.authenticateWithKey());
    paired.sendPlain(wex::ControlType::ping, wex::Ping{1, 2}.encode());
    EXPECT_TRUE(h.log.waitFor("• dropped ping — not authenticated (sealed=false, session=true)"));
    EXPECT_TRUE(paired.quietFor(50ms));
}

TEST(TransportGuards, OnlyControlStreamFramesAreDispatched) {
    TestController paired;
    AgentHarness h(pairedWith(paired));
    ASSERT_TRUE(h.connect(paired));
    ASSERT_TRUE(paired.authenticateWithKey());
    // A ping sealed on the video and on the input stream of the control connection: not a ping.
    ASSERT_TRUE(paired.sendSealed(wex::ControlType::ping, wex::Ping{5, 5}.encode(), wex::Stream::video));
    ASSERT_TRUE(paired.sendSealed(wex::ControlType::ping, wex::Ping{6, 6}.encode(), wex::Stream::input));
    // Message types outside the catalogue are ignored without a word.
    ASSERT_TRUE(paired.sendSealed(static_cast<wex::ControlType>(0), {}));
    ASSERT_TRUE(paired.sendSealed(static_cast<wex::ControlType>(34), {}));
    EXPECT_TRUE(paired.quietFor(100ms));
    ASSERT_TRUE(paired.sendSealed(wex::ControlType::ping, wex::Ping{7, 7}.encode()));
    const auto pong = paired.receiveType(wex::ControlType::pong);
    ASSERT_TRUE(pong);
    EXPECT_EQ(wex::Pong::decode(pong->payload).reqId, 7);
    EXPECT_FALSE(h.log.has("• dropped"));
}

TEST(TransportGuards, WithTheLocalNetworkOffNoPortIsOpen) {
    AgentHarness::Options o;
    o.lan = false;
    AgentHarness h(o);
    EXPECT_EQ(h.controlPort(), 0);
    EXPECT_EQ(h.inputPort(), 0);
    EXPECT_TRUE(h.log.has("• LAN listeners DISABLED (relay-only). No inbound ports, no Avahi advert."));
    EXPECT_TRUE(h.log.has("  Remove \"lan\": false from " + h.home.file(".config/Dovrel/relay.json") +
                          " (or set it to true) to enable them."));
    EXPECT_TRUE(h.log.has("Dovrel agent up: RELAY ONLY — reachable from any network, no inbound ports open."));
    ASSERT_TRUE(waitUntil([&] { return !h.model.pairingURL().isEmpty(); }));
    EXPECT_EQ(h.model.pairingURL().toStdString().rfind("dovrel://pair?code=", 0), 0u);
}
