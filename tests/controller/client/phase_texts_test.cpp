#include <gtest/gtest.h>

#include "controller/client/session/ClientTexts.h"
#include "controller/client/session/Phase.h"

using namespace dovrel::controller;

TEST(Phase, EqualityLooksAtTheMessageOnlyForRejected) {
    EXPECT_EQ(Phase::rejected("a"), Phase::rejected("a"));
    EXPECT_NE(Phase::rejected("a"), Phase::rejected("b"));
    EXPECT_EQ((Phase{PhaseKind::connected, "ignored"}), Phase::of(PhaseKind::connected));
    EXPECT_EQ(Phase::rejected("no").describe(), "rejected(\"no\")");
    EXPECT_EQ(Phase::of(PhaseKind::needsCode).describe(), "needsCode");
    EXPECT_LT(PhaseKind::rejected, PhaseKind::disconnected);
    EXPECT_LT(PhaseKind::handshaking, PhaseKind::connected);
}

TEST(HandshakeStage, RawValuesRoundTripAndNothingElseParses) {
    EXPECT_EQ(rawValue(HandshakeStage::dialing), "no reply to HELLO");
    EXPECT_EQ(rawValue(HandshakeStage::sentPskAuth), "no reply to the pairing code");
    EXPECT_EQ(rawValue(HandshakeStage::sentKeypairAuth), "no reply to this device's key");
    for (auto s : {HandshakeStage::dialing, HandshakeStage::sentPskAuth, HandshakeStage::sentKeypairAuth})
        EXPECT_EQ(handshakeStageFromRaw(rawValue(s)), s);
    EXPECT_FALSE(handshakeStageFromRaw("no reply to hello"));
    EXPECT_EQ(texts::statusHandshakeTimedOut(HandshakeStage::dialing), "handshake timed out at: no reply to HELLO");
}

TEST(ClientTexts, WatchdogTextsNameTheTarget) {
    // Two desktop computers: no Wi-Fi, phones or taps, and an address the agent's window really shows.
    EXPECT_EQ(texts::unreachableOnLan("10.0.0.5"),
              "Couldn’t reach the computer at 10.0.0.5. Make sure both computers are on the same network, that it is "
              "awake, and that the address matches the one shown in the DOVRELÆ window on it (Set up by hand) - then "
              "try again.");
    EXPECT_EQ(texts::unreachableThroughRelay("Office"),
              "Couldn’t reach Office. It may be offline or not connected to the internet - make sure the computer is "
              "awake and online, then try again.");
    EXPECT_EQ(texts::handshakeStalled(HandshakeStage::dialing),
              "Couldn’t finish connecting. Something answered on that address but never identified itself as DOVRELÆ "
              "- check the address matches the one shown in the DOVRELÆ window on the computer.");
    EXPECT_EQ(texts::handshakeStalled(HandshakeStage::sentPskAuth),
              "Couldn’t finish connecting. The computer received the pairing code but never answered it. That usually "
              "means it’s running an older version of DOVRELÆ than this computer - update it, then try again.");
    EXPECT_EQ(texts::handshakeStalled(HandshakeStage::sentKeypairAuth),
              "Couldn’t finish connecting. The computer never confirmed this computer. If DOVRELÆ was reinstalled on "
              "it, the pairing was cleared - unpair it here and pair again with its link.");
    EXPECT_EQ(texts::statusRejected(2), "rejected (reason 2)");
}
