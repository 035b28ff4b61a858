// The root view's rules against a fake session client: which screen shows when, what the automatic
// connections of the launch arguments dial, and which argument wins.
#include <QSignalSpy>

#include <gtest/gtest.h>

#include "ViewTestSupport.h"
#include "controller/ui/root/RootViewModel.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using Route = RootViewModel::Route;

namespace {

struct Root : RootServices {
    FakeSessionPort session;
    RootViewModel model;
    explicit Root(const QStringList& args)
        : model(session, store, *account, LaunchArguments::parse(QStringList{"DovrelController"} + args),
                startPolling) {}
};

} // namespace

TEST(LaunchArgumentsTest, AValueIsTheNextArgumentAndALastSwitchIsAbsent) {
    const auto a = LaunchArguments::parse({"p", "-autoHost", "-pairingCode", "123456", "-autoRelay"});
    EXPECT_EQ(a.autoHost, QString("-pairingCode"));
    EXPECT_EQ(a.pairingCode, QString("123456"));
    EXPECT_FALSE(a.autoRelay);
    EXPECT_EQ(LaunchArguments::parse({"p", "-pairingCode", ""}).pairingCode, QString(""));
    // Only the first occurrence counts, even when it is the last argument.
    EXPECT_FALSE(LaunchArguments::parse({"p", "-autoLink", "x", "-autoLink"}).autoLink == std::nullopt);
    EXPECT_EQ(LaunchArguments::parse({"p", "-autoLink", "x", "-autoLink"}).autoLink, QString("x"));
    EXPECT_FALSE(LaunchArguments::parse({"p", "-autoHost"}).autoHost);
    // Switches match exactly.
    EXPECT_FALSE(LaunchArguments::parse({"p", "-autohost", "h", "--demo"}).autoHost);
    EXPECT_FALSE(LaunchArguments::parse({"p", "--demo"}).demo);
}

TEST(LaunchArgumentsTest, HostWinsOverRelayWhichWinsOverLink) {
    using A = LaunchArguments::AutoConnect;
    EXPECT_EQ(LaunchArguments::parse({"p", "-autoLink", "l", "-autoRelay", "r", "-autoHost", "h"}).autoConnect(),
              A::host);
    EXPECT_EQ(LaunchArguments::parse({"p", "-autoLink", "l", "-autoRelay", "r"}).autoConnect(), A::relay);
    EXPECT_EQ(LaunchArguments::parse({"p", "-autoRelay", "r", "-autoHost"}).autoConnect(), A::relay);
    EXPECT_EQ(LaunchArguments::parse({"p", "-autoLink", "l"}).autoConnect(), A::link);
    EXPECT_EQ(LaunchArguments::parse({"p", "-demo"}).autoConnect(), A::none);
}

TEST(LaunchArgumentsTest, Flags) {
    const auto a = LaunchArguments::parse({"p", "-demo", "-DovrelDemo", "-windowSnapshot", "/x.png"});
    EXPECT_TRUE(a.demo);
    EXPECT_TRUE(a.storeDemo);
    EXPECT_EQ(a.windowSnapshot, QString("/x.png"));
    EXPECT_FALSE(LaunchArguments::parse({"p", "-DovrelDemo"}).demo);
}

TEST(RootViewModelTest, StartsOnTheDeckWithNoMachine) {
    Root r({});
    EXPECT_EQ(r.model.route(), Route::Deck);
    EXPECT_EQ(r.model.activeName(), "that computer");
    EXPECT_FALSE(r.model.activeDeviceId());
    r.model.appeared();
    EXPECT_TRUE(r.session.dials.empty());
}

TEST(RootViewModelTest, AnAutomaticHostSessionStaysOnTheDeckUntilItStands) {
    Root r({"-autoHost", "10.0.0.7:47810", "-pairingCode", "123456"});
    QSignalSpy routes(&r.model, &RootViewModel::routeChanged);
    r.model.appeared();
    ASSERT_EQ(r.session.dials.size(), 1u);
    EXPECT_EQ(r.session.dials[0].kind, "host");
    EXPECT_EQ(r.session.dials[0].target, "10.0.0.7:47810");
    EXPECT_EQ(r.session.dials[0].code, "123456");
    EXPECT_EQ(r.model.activeName(), "That computer");
    EXPECT_TRUE(r.model.openingSession());
    EXPECT_EQ(r.session.targetIsWindows, false);
    EXPECT_EQ(r.session.targetKind, std::nullopt) << "no machine is saved at that address";

    r.session.play(PhaseKind::connecting);
    r.session.play(PhaseKind::handshaking);
    EXPECT_EQ(r.model.route(), Route::Deck);
    r.session.play(PhaseKind::connected);
    EXPECT_EQ(r.model.route(), Route::Session);
    EXPECT_FALSE(r.model.openingSession());
    EXPECT_EQ(routes.count(), 1);
}

TEST(RootViewModelTest, AnAutomaticRelaySessionNamesItsRoomAsTheActiveMachine) {
    Root r({"-autoRelay", "0123456789abcdef0123456789abcdef", "-autoHost"});
    r.model.appeared();
    // It goes once the signed-in account, which it would dial with, has been read.
    ASSERT_TRUE(waitUntil([&] { return r.session.dials.size() == 1u; }));
    EXPECT_EQ(r.session.dials[0].kind, "relay");
    EXPECT_EQ(r.session.dials[0].target, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(r.session.dials[0].name, "That computer");
    EXPECT_EQ(r.session.dials[0].code, "");
    EXPECT_FALSE(r.session.relayDials[0].account || r.session.relayDials[0].token || r.session.relayDials[0].relay);
    EXPECT_EQ(r.model.activeDeviceId(), QString("0123456789abcdef0123456789abcdef"));
}

TEST(RootViewModelTest, DemoModeStillDialsAnAutomaticHost) {
    Root r({"-demo", "-autoHost", "h"});
    r.model.appeared();
    ASSERT_EQ(r.session.dials.size(), 1u);
    EXPECT_EQ(r.session.dials[0].target, "h");
    EXPECT_EQ(r.session.demos, 0);
}

TEST(RootViewModelTest, NeedingACodeLeavesTheSessionOrAnAutomaticDialForPairing) {
    Root r({"-autoHost", "h"});
    r.model.appeared();
    r.session.play(PhaseKind::needsCode);
    EXPECT_EQ(r.model.route(), Route::Pairing) << "the dial the command line made says what it needs";
    EXPECT_FALSE(r.model.notice().isEmpty());

    r.session.play(PhaseKind::connected);
    ASSERT_EQ(r.model.route(), Route::Session);
    r.session.play(PhaseKind::needsCode);
    EXPECT_EQ(r.model.route(), Route::Pairing);
    // Cancelling the pairing screen only changes the screen.
    r.model.cancelPairing();
    EXPECT_EQ(r.model.route(), Route::Deck);
    EXPECT_EQ(r.session.disconnects, 0);
}

TEST(RootViewModelTest, EndingTheSessionDisconnectsAndKeepsTheLastMachine) {
    Root r({"-autoRelay", "room"});
    r.model.appeared();
    ASSERT_TRUE(waitUntil([&] { return r.session.dials.size() == 1u; }));
    r.session.play(PhaseKind::connected);
    r.model.endSession();
    EXPECT_EQ(r.session.disconnects, 1);
    EXPECT_EQ(r.model.route(), Route::Deck);
    EXPECT_FALSE(r.model.openingSession());
    EXPECT_EQ(r.model.activeName(), "That computer");
    EXPECT_EQ(r.model.activeDeviceId(), QString("room"));
    // A later connected phase of nothing this view opened does not bring the session back.
    r.session.play(PhaseKind::connected);
    EXPECT_EQ(r.model.route(), Route::Deck);
}

TEST(RootViewModelTest, AnAttemptThatNeverStoodEndsWhereItWasStarted) {
    Root r({});
    Device saved;
    saved.name = "Studio";
    saved.host = "10.0.0.5";
    r.store.setDevices({saved});
    // From the pairing screen, refused: back there, told why and of what.
    r.model.showPairing();
    r.model.connectLAN("10.0.0.9", "Lab", "000000", Device::Kind::linux);
    ASSERT_EQ(r.model.route(), Route::Session);
    r.session.refuse("Wrong pairing code.", RefusedPart::code);
    r.model.endSession();
    EXPECT_EQ(r.model.route(), Route::Pairing);
    EXPECT_EQ(r.model.returned(), (PairingTarget::Returned{"Wrong pairing code.", RefusedPart::code}));
    // Ended on its way, from there too: back, refused by nothing.
    r.model.connectLAN("10.0.0.9", "Lab", "123456", Device::Kind::linux);
    EXPECT_FALSE(r.model.returned()) << "a visit of the pairing screen is told only its own way back";
    r.session.play(PhaseKind::connecting);
    r.model.endSession();
    EXPECT_EQ(r.model.returned(), PairingTarget::Returned{});
    // Once a session stood, or when the deck started it, the deck.
    r.model.connectLAN("10.0.0.9", "Lab", "123456", Device::Kind::linux);
    r.session.play(PhaseKind::connected);
    r.session.refuse("The session was ended on the other computer.", RefusedPart::none);
    r.model.endSession();
    EXPECT_EQ(r.model.route(), Route::Deck);
    r.model.open(0);
    r.session.refuse("Wrong pairing code.", RefusedPart::code);
    r.model.endSession();
    EXPECT_EQ(r.model.route(), Route::Deck);
    EXPECT_FALSE(r.model.returned());
}

TEST(RootViewModelTest, AnIdentityTheKeychainCouldNotGiveBackIsToldAsANotice) {
    Root r({});
    r.session.problem = QStringLiteral("the keyring did not answer");
    emit r.session.identityProblemChanged();
    EXPECT_EQ(r.model.alert(), RootViewModel::Alert::Keychain);
    EXPECT_TRUE(r.model.alertText().contains("(the keyring did not answer)"));
    EXPECT_EQ(r.model.alertConfirm(), "OK");
    r.model.answerAlert(true);
    EXPECT_EQ(r.model.alert(), RootViewModel::Alert::None);
    EXPECT_EQ(r.session.disconnects, 0);
}

TEST(RootViewModelTest, OtherPhasesChangeNothing) {
    Root r({"-autoHost", "h"});
    r.model.appeared();
    r.model.showPairing();
    for (PhaseKind k : {PhaseKind::rejected, PhaseKind::disconnected, PhaseKind::connecting, PhaseKind::handshaking}) {
        r.session.play(k);
        EXPECT_EQ(r.model.route(), Route::Pairing);
        EXPECT_TRUE(r.model.openingSession());
    }
}
