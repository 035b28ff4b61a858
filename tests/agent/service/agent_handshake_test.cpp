// The agent's handshake end to end on loopback: a scripted controller against a real agent with fake
// desktop services and a fake clock.

#include <gtest/gtest.h>

#include "AgentTestSupport.h"
#include "protocol/ControlMessages.h"
#include "protocol/Frame.h"
#include "protocol/Hex.h"

using namespace dovrel;
using namespace dovrel::test;
using namespace std::chrono_literals;

namespace {

wex::Bytes keyOf(const TestController& c) { return c.publicKey(); }

std::string fp(const TestController& c) { return wex::hexed(wex::ByteView(c.publicKey()).first(8)) + "…"; }

// Pings sealed and expects the Pong back; the session is alive.
bool pingPong(TestController& c, uint16_t reqId = 7) {
    if (!c.sendSealed(wex::ControlType::ping, wex::Ping{reqId, 123456789}.encode())) return false;
    const auto pong = c.receiveType(wex::ControlType::pong);
    if (!pong || !pong->sealed) return false;
    const auto p = wex::Pong::decode(pong->payload);
    return p.reqId == reqId && p.clientTsUs == 123456789;
}

std::string wrongCode(const std::string& code) { return code == "000000" ? "000001" : "000000"; }

} // namespace

TEST(AgentHandshake, PairedKeyGetsASealedSession) {
    TestController probe;
    AgentHarness h(pairedWith(probe));
    TestController& c = probe;
    ASSERT_TRUE(h.connect(c));
    // A device is shown connecting once it speaks, not when its connection opens.
    c.sendHello();
    ASSERT_TRUE(h.log.waitFor("• TCP from 127.0.0.1 — awaiting handshake"));
    EXPECT_TRUE(waitUntil([&] { return h.model.statusText() == "Device connecting…"; }));
    const auto ack = c.awaitHelloAck();
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->reqId, 1);
    EXPECT_EQ(ack->protoSelected, 1);
    EXPECT_EQ(ack->capabilities, wex::Cap::wakeProxy);
    EXPECT_TRUE(ack->capabilitiesPresent);
    EXPECT_EQ(wex::hexed(wex::ByteView(ack->staticPub).first(16)), h.agent->deviceId());
    EXPECT_TRUE(h.log.waitFor("• HELLO from \"Test Controller\" " + fp(c)));

    c.sendAuthWithKey(9);
    const auto result = c.awaitAuthResult();
    ASSERT_TRUE(result && result->ok);
    EXPECT_TRUE(result->agentProofValid);
    EXPECT_EQ(result->ok->reqId, 9);
    EXPECT_EQ(result->ok->sessionId, 1u);
    EXPECT_EQ(result->ok->resumeToken, 0u);
    EXPECT_EQ(result->ok->heartbeatMs, 2000);
    EXPECT_EQ(result->ok->idleTimeoutMs, 8000);
    EXPECT_TRUE(h.log.waitFor("• AUTH OK (keypair) — streaming ENCRYPTED"));

    // Every control frame after AuthOk is sealed, numbered from 0.
    ASSERT_TRUE(c.sendSealed(wex::ControlType::ping, wex::Ping{1, 42}.encode()));
    const auto first = c.receiveType(wex::ControlType::pong);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->sealed);
    EXPECT_EQ(first->seq, 0u);
    ASSERT_TRUE(c.sendSealed(wex::ControlType::ping, wex::Ping{2, 43}.encode()));
    const auto second = c.receiveType(wex::ControlType::pong);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->seq, 1u);

    EXPECT_TRUE(h.agent->streaming());
    EXPECT_TRUE(h.rec->has("clipboard.start"));
    EXPECT_TRUE(h.rec->has("clipfiles.start"));
    EXPECT_TRUE(waitUntil([&] {
        return h.model.connectedClient() == "Test Controller" && // the name its Hello gave
               h.model.statusText() == "Connected - your device is controlling this computer";
    }));
    ASSERT_TRUE(h.agent->transport().sendTarget());
    EXPECT_EQ(h.agent->transport().sendTarget()->sessionId, 1u);
}

TEST(AgentHandshake, TheConnectedClientIsNamedByItsHelloWithoutControlCharacters) {
    TestController c(wex::DeviceIdentity(), "Ann's\npad\x07");
    AgentHarness h(pairedWith(c));
    ASSERT_TRUE(h.connect(c));
    ASSERT_TRUE(c.authenticateWithKey());
    EXPECT_TRUE(waitUntil([&] { return h.model.connectedClient() == "Ann's?pad?"; }));
}

TEST(AgentHandshake, CodePairsTheKeyOnceAndRotatesTheCode) {
    AgentHarness h;
    ASSERT_TRUE(waitUntil([&] { return h.model.pairingCode().size() == 6 && h.model.pairingCode() != "------"; }));
    const std::string first = h.code();
    EXPECT_EQ(h.model.pairingCode().toStdString(), first);
    EXPECT_FALSE(h.log.has(first)) << "the code never goes into the log";

    ASSERT_TRUE(h.connect(h.ctl));
    ASSERT_TRUE(h.ctl.authenticateWithCode(first));
    EXPECT_TRUE(h.log.waitFor("• AUTH OK (paired via code) — streaming ENCRYPTED"));
    EXPECT_TRUE(h.log.has("• pairing code rotated after a successful pair - the old one is dead"));
    EXPECT_EQ(h.pairedFile(), keyOf(h.ctl));
    const std::string second = h.code();
    EXPECT_NE(second, first);
    EXPECT_TRUE(waitUntil([&] { return h.model.pairingCode().toStdString() == second; }));
    EXPECT_NE(h.model.pairingURL().toStdString().find("code=" + second + "&"), std::string::npos);
    EXPECT_FALSE(h.log.has(second));

    // Pairing the same key again by code does not list it twice; its key alone is now enough.
    h.ctl.close();
    ASSERT_TRUE(h.log.waitFor("• control connection closed — client gone"));
    ASSERT_TRUE(h.connect(h.ctl));
    ASSERT_TRUE(h.ctl.authenticateWithCode(second));
    EXPECT_EQ(h.pairedFile(), keyOf(h.ctl));
    h.ctl.close();
    ASSERT_TRUE(waitUntil([&] { return h.log.count("• control connection closed — client gone") == 2; }));
    ASSERT_TRUE(h.connect(h.ctl));
    EXPECT_TRUE(h.ctl.authenticateWithKey());
}

TEST(AgentHandshake, ACodePairsOnlyWhileTheWindowShowsItAndTenMinutesAfter) {
    TestController paired;
    AgentHarness h(pairedWith(paired));
    h.agent->pairingCodeShown(false);
    h.advance(10min);
    ASSERT_TRUE(h.connect(h.ctl));
    ASSERT_TRUE(h.ctl.authenticateWithCode(h.code())) << "ten minutes after the window closed the code still pairs";
    h.ctl.close();
    ASSERT_TRUE(h.log.waitFor("• control connection closed — client gone"));

    // A second later no code is in force: the right one is answered as a wrong one would be.
    h.advance(1s);
    const std::string code = h.code();
    TestController stranger;
    ASSERT_TRUE(h.connect(stranger));
    stranger.sendHello(wex::Cap::screenClient, true, wex::AuthMode::psk);
    ASSERT_TRUE(stranger.awaitHelloAck());
    stranger.sendAuthWithCode(code);
    ASSERT_TRUE(h.log.waitFor("• pairing code refused — a code pairs only while this computer's DOVRELÆ window "));
    h.advance(250ms);
    const auto r = stranger.awaitAuthResult();
    ASSERT_TRUE(r && r->fail);
    EXPECT_EQ(r->fail->reason, wex::AuthFailReason::badProof);
    EXPECT_EQ(h.code(), code) << "nobody tried the code: it stays";
    EXPECT_EQ(h.pairedFile().size(), 2 * keyOf(paired).size()) << "only the key paired in time";
    h.advance(200ms);
    ASSERT_TRUE(stranger.closedByAgent());

    // A paired key always gets in; once the window shows the code again it pairs, however long it stays.
    h.advance(5s);
    ASSERT_TRUE(h.connect(paired));
    ASSERT_TRUE(paired.authenticateWithKey());
    paired.close();
    ASSERT_TRUE(waitUntil([&] { return h.log.count("• control connection closed — client gone") == 2; }));
    h.agent->pairingCodeShown(true);
    h.advance(1h);
    ASSERT_TRUE(h.connect(stranger));
    EXPECT_TRUE(stranger.authenticateWithCode(code));
}

TEST(AgentHandshake, TenWrongCodesWithinAnHourPauseCodePairingUntilTheWindowMakesANewCode) {
    TestController paired;
    AgentHarness h(pairedWith(paired));
    TestController guesser;
    int streak = 0;
    // One proof of `code`, refused after the longest back-off and dropped: the refusal.
    const auto prove = [&](const std::string& code) {
        EXPECT_TRUE(h.connect(guesser));
        guesser.sendHello(wex::Cap::screenClient, true, wex::AuthMode::psk);
        EXPECT_TRUE(guesser.awaitHelloAck());
        guesser.sendAuthWithCode(code);
        EXPECT_TRUE(h.log.waitFor("(streak " + std::to_string(++streak) + ")"));
        h.advance(5s);
        const auto r = guesser.awaitAuthResult();
        h.advance(200ms);
        EXPECT_TRUE(guesser.closedByAgent());
        return r && r->fail ? r->fail : std::nullopt;
    };
    // The first wrong code is more than an hour old when the tenth comes: nine count, and codes still pair.
    prove(wrongCode(h.code()));
    h.advance(1h);
    for (int i = 0; i < 9; ++i)
        prove(wrongCode(h.code()));
    h.pumpMain();
    EXPECT_FALSE(h.model.codePairingPaused());
    prove(wrongCode(h.code()));
    ASSERT_TRUE(waitUntil([&] { return h.model.codePairingPaused(); }));
    EXPECT_EQ(h.model.wrongCodeAddresses(), QStringList{"127.0.0.1"});

    // Paused: the right code is refused unchecked, counts for nothing and the code stays; the refusal says why.
    const std::string code = h.code();
    const auto fail = prove(code);
    ASSERT_TRUE(fail);
    EXPECT_EQ(fail->reason, wex::AuthFailReason::badProof);
    EXPECT_FALSE(fail->message.empty());
    EXPECT_EQ(h.code(), code);
    EXPECT_EQ(h.pairedFile(), keyOf(paired));

    // A paired controller connects by key meanwhile; the waiting line then agrees with the pause.
    ASSERT_TRUE(h.connect(paired));
    ASSERT_TRUE(paired.authenticateWithKey());
    paired.close();
    ASSERT_TRUE(h.log.waitFor("• control connection closed — client gone"));
    const QString pausedLine = "Pairing by code is paused - paired devices can still connect";
    EXPECT_TRUE(waitUntil([&] { return h.model.statusText() == pausedLine; }));

    // A new code from the window: the notice goes, and that code pairs.
    h.model.newPairingCode();
    ASSERT_TRUE(waitUntil([&] { return !h.model.codePairingPaused(); }));
    EXPECT_TRUE(h.model.wrongCodeAddresses().isEmpty());
    EXPECT_EQ(h.model.statusText(), "Waiting for your device to pair…");
    EXPECT_NE(h.code(), code);
    ASSERT_TRUE(h.connect(guesser));
    EXPECT_TRUE(guesser.authenticateWithCode(h.code()));
}

TEST(AgentHandshake, UnpairedKeyIsRefusedNotPairedAndABadSignatureBadProof) {
    AgentHarness h;
    ASSERT_TRUE(h.connect(h.ctl));
    h.ctl.sendHello();
    ASSERT_TRUE(h.ctl.awaitHelloAck());
    h.ctl.sendAuthWithKey();
    EXPECT_TRUE(h.ctl.quietFor(100ms)) << "a refusal is never immediate";
    h.advance(250ms);
    auto r = h.ctl.awaitAuthResult();
    ASSERT_TRUE(r && r->fail);
    EXPECT_EQ(r->fail->reason, wex::AuthFailReason::notPaired);
    EXPECT_EQ(r->fail->message, "");
    EXPECT_TRUE(h.log.has("• AUTH REJECTED (notPaired) for " + fp(h.ctl) + " — refusing in 0.25s (streak 1)"));
    h.advance(200ms);
    EXPECT_TRUE(h.ctl.closedByAgent());

    // A proof that is not a signature over this handshake.
    ASSERT_TRUE(h.connect(h.ctl));
    h.ctl.sendHello();
    ASSERT_TRUE(h.ctl.awaitHelloAck());
    wex::Auth forged;
    forged.reqId = 5;
    forged.authMode = wex::AuthMode::keypair;
    forged.proof.fill(0x11);
    h.ctl.sendPlain(wex::ControlType::auth, forged.encode());
    ASSERT_TRUE(h.log.waitFor("• AUTH REJECTED (badProof)"));
    EXPECT_TRUE(h.log.has("— refusing in 0.50s (streak 2)"));
    h.advance(499ms);
    EXPECT_TRUE(h.ctl.quietFor(100ms));
    h.advance(1ms);
    r = h.ctl.awaitAuthResult();
    ASSERT_TRUE(r && r->fail);
    EXPECT_EQ(r->fail->reqId, 5);
    EXPECT_EQ(r->fail->reason, wex::AuthFailReason::badProof);
}

TEST(AgentHandshake, WrongCodesBackOffMoreEachTimeAndTheFifthRotatesTheCode) {
    AgentHarness h;
    const std::string original = h.code();
    const Duration delays[] = {250ms, 500ms, 1s, 2s, 4s, 5s, 5s};
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE("wrong code " + std::to_string(i + 1));
        const std::string before = h.code();
        ASSERT_TRUE(h.connect(h.ctl));
        h.ctl.sendHello(wex::Cap::screenClient, true, wex::AuthMode::psk);
        ASSERT_TRUE(h.ctl.awaitHelloAck());
        h.ctl.sendAuthWithCode(wrongCode(before));
        ASSERT_TRUE(h.log.waitFor("(streak " + std::to_string(i + 1) + ")"));
        h.advance(delays[i] - 1ms);
        EXPECT_TRUE(h.ctl.quietFor(50ms));
        h.advance(1ms);
        const auto r = h.ctl.awaitAuthResult();
        ASSERT_TRUE(r && r->fail);
        EXPECT_EQ(r->fail->reason, wex::AuthFailReason::badProof);
        h.advance(199ms);
        EXPECT_TRUE(h.ctl.quietFor(20ms)) << "dropped 0.2 s after the AuthFail, not before";
        h.advance(1ms);
        EXPECT_TRUE(h.ctl.closedByAgent());
        if (i + 1 == 5) {
            EXPECT_NE(h.code(), before) << "the fifth wrong code rotates the code";
            EXPECT_TRUE(waitUntil([&] { return h.model.codeDrawnAfterWrongCodes().toStdString() == h.code(); }));
            EXPECT_TRUE(h.log.has("• pairing code ROTATED after 5 wrong codes — the old one is dead"));
        } else {
            EXPECT_EQ(h.code(), before);
        }
    }
    EXPECT_TRUE(h.log.has("— refusing in 5.00s (streak 6)"));
    EXPECT_NE(h.code(), original);

    // The old code is dead; the current one works and a success resets the back-off.
    ASSERT_TRUE(h.connect(h.ctl));
    h.ctl.sendHello(wex::Cap::screenClient, true, wex::AuthMode::psk);
    ASSERT_TRUE(h.ctl.awaitHelloAck());
    h.ctl.sendAuthWithCode(original);
    ASSERT_TRUE(h.log.waitFor("(streak 8)"));
    h.advance(5s);
    ASSERT_TRUE(h.ctl.awaitAuthResult());
    h.advance(200ms);
    ASSERT_TRUE(h.ctl.closedByAgent());
    ASSERT_TRUE(h.connect(h.ctl));
    ASSERT_TRUE(h.ctl.authenticateWithCode(h.code()));
    h.ctl.close();
    ASSERT_TRUE(h.log.waitFor("• control connection closed — client gone"));
    ASSERT_TRUE(h.connect(h.ctl));
    h.ctl.sendHello(wex::Cap::screenClient, true, wex::AuthMode::psk);
    ASSERT_TRUE(h.ctl.awaitHelloAck());
    h.ctl.sendAuthWithCode(wrongCode(h.code()));
    EXPECT_TRUE(h.log.waitFor("— refusing in 0.25s (streak 1)"));
}

TEST(AgentHandshake, TheBackOffGateRefusesProofsUncheckedAndFreshConnectionsCannotBypassIt) {
    AgentHarness h;
    const std::string code = h.code();
    TestController first;
    ASSERT_TRUE(h.connect(first));
    first.sendHello(wex::Cap::screenClient, true, wex::AuthMode::psk);
    ASSERT_TRUE(first.awaitHelloAck());
    first.sendAuthWithCode(wrongCode(code));
    ASSERT_TRUE(h.log.waitFor("(streak 1)"));

    // A fresh connection with the right code, inside the 0.25 s back-off: refused unchecked.
    ASSERT_TRUE(h.connect(h.ctl));
    h.ctl.sendHello(wex::Cap::screenClient, true, wex::AuthMode::psk);
    EXPECT_TRUE(first.closedByAgent()) << "the newcomer replaced the unauthenticated client as it spoke";
    ASSERT_TRUE(h.ctl.awaitHelloAck());
    h.advance(100ms);
    h.ctl.sendAuthWithCode(code);
    ASSERT_TRUE(h.log.waitFor("• AUTH REJECTED (backOff) for " + fp(h.ctl) + " — refusing in 0.15s (streak 1)"));
    EXPECT_TRUE(h.ctl.quietFor(50ms));
    h.advance(150ms);
    const auto r = h.ctl.awaitAuthResult();
    ASSERT_TRUE(r && r->fail);
    EXPECT_EQ(r->fail->reason, wex::AuthFailReason::unknown);
    EXPECT_FALSE(r->fail->message.empty());
    h.advance(200ms);
    EXPECT_TRUE(h.ctl.closedByAgent());
    EXPECT_EQ(h.code(), code) << "nothing was paired, nothing rotated";
    EXPECT_TRUE(h.pairedFile().empty());

    // The unchecked proof did not count: three more wrong codes make four, and the code stays.
    const Duration delays[] = {500ms, 1s, 2s, 4s};
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(h.connect(h.ctl));
        h.ctl.sendHello(wex::Cap::screenClient, true, wex::AuthMode::psk);
        ASSERT_TRUE(h.ctl.awaitHelloAck());
        h.ctl.sendAuthWithCode(wrongCode(code));
        ASSERT_TRUE(h.log.waitFor("(streak " + std::to_string(i + 2) + ")"));
        h.advance(delays[i] + 200ms);
        ASSERT_TRUE(h.ctl.closedByAgent());
        if (i < 3) {
            EXPECT_EQ(h.code(), code) << "after " << i + 2 << " wrong codes";
        }
    }
    EXPECT_NE(h.code(), code) << "the fifth checked wrong code rotates";
}

TEST(AgentHandshake, ARefusedConnectionGetsNoFurtherHandshake) {
    TestController probe;
    AgentHarness h(pairedWith(probe));
    ASSERT_TRUE(h.connect(probe));
    probe.sendHello(wex::Cap::screenClient, true, wex::AuthMode::psk);
    ASSERT_TRUE(probe.awaitHelloAck());
    probe.sendAuthWithCode(wrongCode(h.code()));
    ASSERT_TRUE(h.log.waitFor("(streak 1)"));
    // Neither a new Hello nor a valid key proof gets anywhere on this connection.
    probe.sendHello();
    EXPECT_TRUE(probe.quietFor(100ms));
    probe.sendAuthWithKey();
    EXPECT_TRUE(probe.quietFor(100ms));
    h.advance(250ms);
    const auto r = probe.awaitAuthResult();
    ASSERT_TRUE(r && r->fail);
    EXPECT_EQ(r->fail->reason, wex::AuthFailReason::badProof);
    h.advance(200ms);
    EXPECT_TRUE(probe.closedByAgent());
    EXPECT_EQ(h.log.count("• HELLO from"), 1u);
}

TEST(AgentHandshake, ADelayedRefusalActsOnlyOnTheConnectionItWasMeantFor) {
    TestController paired;
    AgentHarness h(pairedWith(paired));
    TestController guesser;
    ASSERT_TRUE(h.connect(guesser));
    guesser.sendHello(wex::Cap::screenClient, true, wex::AuthMode::psk);
    ASSERT_TRUE(guesser.awaitHelloAck());
    guesser.sendAuthWithCode(wrongCode(h.code()));
    ASSERT_TRUE(h.log.waitFor("(streak 1)"));

    // The paired device connects during the back-off (its key proof is always checked) and is admitted.
    ASSERT_TRUE(h.connect(paired));
    ASSERT_TRUE(paired.authenticateWithKey());
    EXPECT_TRUE(guesser.closedByAgent());
    // The guesser's AuthFail and drop fall due: they must not reach the new session.
    h.advance(250ms);
    h.advance(200ms);
    EXPECT_TRUE(paired.quietFor(100ms));
    EXPECT_TRUE(pingPong(paired));
    EXPECT_TRUE(h.agent->transport().sendTarget() != nullptr);
}

TEST(AgentHandshake, ANewcomerReplacesAnUnauthenticatedClientAndItsLateEventsAreIgnored) {
    TestController paired;
    AgentHarness h(pairedWith(paired));
    TestController first;
    ASSERT_TRUE(h.connect(first));
    // Half a frame sits in the first connection's buffer.
    const wex::Bytes hello = wex::buildFrame(wex::Stream::control, 1, 0, {}, wex::Bytes(90, 0x41));
    first.sendRaw(wex::ByteView(hello).first(20));
    ASSERT_TRUE(h.log.waitFor("• TCP from 127.0.0.1 — awaiting handshake")); // the agent has read them
    ASSERT_TRUE(h.connect(paired));
    // It replaces the first connection with its first bytes; the first one's late close says nothing.
    ASSERT_TRUE(paired.authenticateWithKey());
    EXPECT_TRUE(first.closedByAgent());
    first.close();
    EXPECT_TRUE(pingPong(paired));
    EXPECT_EQ(h.log.count("• new TCP control connection from 127.0.0.1 — dropping the unfinished handshake from "
                          "127.0.0.1"),
              1u);
    EXPECT_FALSE(h.log.has("• control connection closed"));
}

TEST(AgentHandshake, BareConnectionsLeaveAHandshakeWaitingForItsCodeUntouched) {
    AgentHarness h;
    const auto waiting = [&] {
        std::size_t n = 0;
        h.agent->transport().queue().sync([&] { n = h.net->waitingNewcomers(); });
        return n;
    };
    ASSERT_TRUE(h.connect(h.ctl));
    h.ctl.sendHello(wex::Cap::screenClient, true, wex::AuthMode::psk);
    ASSERT_TRUE(h.ctl.awaitHelloAck());
    ASSERT_TRUE(waitUntil([&] { return h.model.statusText() == "Device connecting…"; }));

    // While its person types the code: another controller's reachability checks, a port scan.
    for (int i = 0; i < 3; ++i) {
        TestController probe;
        ASSERT_TRUE(h.connect(probe));
        ASSERT_TRUE(waitUntil([&] { return waiting() == 1; }));
        probe.close();
        ASSERT_TRUE(waitUntil([&] { return waiting() == 0; }));
    }
    // A service scan's probes, which write first: they go, the handshake stays.
    const std::string getLine = "GET / HTTP/1.0\r\n\r\n";
    wex::Bytes tlsHello{0x16, 0x03, 0x01, 0x00, 0xC8, 0x01, 0x00, 0x00, 0xC4, 0x03, 0x03};
    tlsHello.resize(tlsHello.size() + 32, 0x5A); // the client's random
    for (const wex::Bytes& written : {wex::Bytes(getLine.begin(), getLine.end()), tlsHello}) {
        TestController scanner;
        ASSERT_TRUE(h.connect(scanner));
        scanner.sendRaw(written);
        EXPECT_TRUE(scanner.closedByAgent());
        ASSERT_TRUE(waitUntil([&] { return waiting() == 0; }));
    }
    // One that holds its connection open without a word goes after 10 s.
    TestController holder;
    ASSERT_TRUE(h.connect(holder));
    ASSERT_TRUE(waitUntil([&] { return waiting() == 1; }));
    h.advance(10s);
    EXPECT_TRUE(holder.closedByAgent());

    h.pumpMain();
    EXPECT_EQ(h.model.statusText(), "Device connecting…");
    h.ctl.sendAuthWithCode(h.code());
    const auto r = h.ctl.awaitAuthResult();
    ASSERT_TRUE(r && r->ok) << "the code on the first connection pairs";
    EXPECT_TRUE(pingPong(h.ctl));
    EXPECT_FALSE(h.log.has("TCP control connection"));
}

TEST(AgentHandshake, ANewcomerDuringASessionIsRefusedWithReasonFive) {
    TestController paired;
    AgentHarness h(pairedWith(paired));
    ASSERT_TRUE(h.connect(paired));
    ASSERT_TRUE(paired.authenticateWithKey());

    TestController late;
    ASSERT_TRUE(h.connect(late));
    const auto frame = late.receive();
    ASSERT_TRUE(frame);
    EXPECT_FALSE(frame->sealed);
    EXPECT_EQ(frame->header.msgType, 5);
    EXPECT_EQ(frame->header.sessionId, 0u);
    const auto fail = wex::AuthFail::decode(frame->payload);
    EXPECT_EQ(fail.reqId, 0);
    EXPECT_EQ(fail.reason, wex::AuthFailReason::tooManySessions);
    EXPECT_EQ(fail.message, "This computer already has a session in progress.");
    EXPECT_TRUE(late.closedByAgent());
    // One that only looked (a reachability check) is refused without a line; one that speaks is logged.
    EXPECT_FALSE(h.log.has("• refusing a new control connection"));
    TestController speaking;
    ASSERT_TRUE(h.connect(speaking));
    speaking.sendHello();
    EXPECT_TRUE(h.log.waitFor("• refusing a new control connection — a session is already established"));
    EXPECT_TRUE(speaking.closedByAgent());
    EXPECT_TRUE(pingPong(paired));
}

TEST(AgentHandshake, ClosingTheControlConnectionEndsTheSessionAtOnce) {
    TestController paired;
    AgentHarness h(pairedWith(paired));
    ASSERT_TRUE(h.connect(paired));
    ASSERT_TRUE(paired.authenticateWithKey());
    h.settle(); // AuthOk leaves just before the session is published
    ASSERT_TRUE(h.agent->transport().sendTarget());
    paired.close();
    ASSERT_TRUE(h.log.waitFor("• control connection closed — client gone"));
    // The line is written just before the session is torn down on the agent's own thread.
    EXPECT_TRUE(waitUntil([&] { return h.agent->transport().sendTarget() == nullptr && !h.agent->streaming(); }));
    EXPECT_TRUE(waitUntil(
        [&] { return h.rec->has("releaseAll") && h.rec->has("clipboard.stop") && h.rec->has("file.cancelAll"); }));
    EXPECT_TRUE(waitUntil([&] {
        return h.model.connectedClient().isEmpty() && h.model.statusText() == "Waiting for your device to pair…";
    }));
    // The reconnect is served at once, with no wait for an idle check.
    ASSERT_TRUE(h.connect(paired));
    EXPECT_TRUE(paired.authenticateWithKey());
}

TEST(AgentHandshake, MaintenanceClientsGetNoSessionServicesAndAbsentCapabilitiesMeanAFullSession) {
    TestController paired;
    AgentHarness h(pairedWith(paired, true));
    ASSERT_TRUE(h.connect(paired));
    ASSERT_TRUE(paired.authenticateWithKey(wex::Cap::maintenance));
    EXPECT_TRUE(h.log.waitFor("• AUTH OK (keypair) — maintenance connection, no session services started"));
    EXPECT_TRUE(h.log.has("• client is input-only (no VIDEO capability) — not capturing"));
    EXPECT_FALSE(h.agent->streaming());
    EXPECT_FALSE(h.rec->has("clipboard.start"));
    EXPECT_FALSE(h.rec->has("clipfiles.start"));
    EXPECT_FALSE(h.rec->has("reports.start"));
    EXPECT_TRUE(pingPong(paired));
    h.pumpMain();
    EXPECT_EQ(h.model.statusText(), "Device connecting…");
    EXPECT_TRUE(h.model.connectedClient().isEmpty());

    paired.close();
    ASSERT_TRUE(h.log.waitFor("• control connection closed — client gone"));
    ASSERT_TRUE(h.connect(paired));
    paired.sendHello(0, false);
    ASSERT_TRUE(paired.awaitHelloAck());
    paired.sendAuthWithKey();
    const auto r = paired.awaitAuthResult();
    ASSERT_TRUE(r && r->ok);
    EXPECT_TRUE(h.log.waitFor("• AUTH OK (keypair) — streaming ENCRYPTED"));
    EXPECT_TRUE(h.agent->streaming());
    EXPECT_TRUE(h.rec->has("reports.start"));
}

TEST(AgentHandshake, AnH264OnlyClientGetsAnH264EncoderUntilTheNextClient) {
    TestController paired;
    AgentHarness h(pairedWith(paired, true));
    ASSERT_TRUE(h.connect(paired));
    ASSERT_TRUE(paired.authenticateWithKey(wex::Cap::screenClient | wex::Cap::h264Only));
    ASSERT_TRUE(h.rec->waitFor("keyframe"));
    const auto calls = h.rec->all();
    const auto rebuild = std::find(calls.begin(), calls.end(), "rebuild:h264:this client cannot decode HEVC");
    const auto budget = std::find(calls.begin(), calls.end(), "budget:lan");
    const auto keyframe = std::find(calls.begin(), calls.end(), "keyframe");
    EXPECT_TRUE(rebuild < budget && budget < keyframe) << "the encoder is rebuilt before the session's first frame";
    paired.close();
    EXPECT_TRUE(h.rec->waitFor("rebuild:hevc:back to HEVC for this client"));
    ASSERT_TRUE(h.connect(paired));
    ASSERT_TRUE(paired.authenticateWithKey());
    EXPECT_EQ(h.rec->count("rebuild:h264:this client cannot decode HEVC"), 1u);
}

TEST(AgentHandshake, HandshakeMessagesInsideASessionAreIgnored) {
    TestController paired;
    AgentHarness h(pairedWith(paired));
    ASSERT_TRUE(h.connect(paired));
    ASSERT_TRUE(paired.authenticateWithKey());
    const std::size_t hellos = h.log.count("• HELLO from");
    paired.sendHello();
    paired.sendAuthWithKey();
    EXPECT_TRUE(paired.quietFor(150ms));
    EXPECT_EQ(h.log.count("• HELLO from"), hellos);
    EXPECT_TRUE(pingPong(paired));
}
