// The root view and the saved machines: a machine paired is saved, once its session stands, at the
// front (matched by host, device identifier or name in any case) with the way that worked; relay
// credentials are kept unless a link brings all three; a host is dialled before the relay; the agent's
// statistics reach the machine, demo sessions never dial, the launch arguments that cannot be used say
// why, and the alerts' texts and answers.
#include <gtest/gtest.h>

#include "ViewTestSupport.h"
#include "controller/services/MachineRecorder.h"
#include "controller/ui/root/RootViewModel.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using Route = RootViewModel::Route;
using Alert = RootViewModel::Alert;

namespace {

struct Machines : RootServices, ::testing::Test {
    FakeSessionPort session;
    std::unique_ptr<RootViewModel> model;

    void make(const QStringList& args = {}) {
        model = std::make_unique<RootViewModel>(session, store, *account,
                                                LaunchArguments::parse(QStringList{"p"} + args), startPolling);
    }
    void save(QString name, QString host, std::optional<QString> deviceId = {}) {
        Device d;
        d.name = std::move(name);
        d.host = std::move(host);
        d.deviceId = std::move(deviceId);
        d.relayAccount = "acct";
        d.relayToken = "tok";
        d.relayHost = "r.example";
        std::vector<Device> all = store.devices();
        all.push_back(d);
        store.setDevices(all);
        store.save();
    }
    const Device& first() const { return store.devices().front(); }
    // The session stands: the deck gets what the program's recorder writes then.
    void succeed(bool viaRelay = false, const QString& agentId = {}) {
        ASSERT_FALSE(session.pending.empty());
        ASSERT_TRUE(session.pending.back());
        const PendingMachine& p = *session.pending.back();
        const Device* saved = store.find(p.machine.id);
        store.putFirst(pairedMachine(saved ? std::optional<Device>(*saved) : std::nullopt, p, viaRelay, agentId));
        store.save();
    }
};

} // namespace

TEST_F(Machines, PairingOnTheNetworkUpdatesTheMachineOfThatNameInAnyCase) {
    save("Desk", "10.0.0.2");
    save("Studio", "10.0.0.3");
    make();
    const QUuid studio = store.devices()[1].id;
    model->connectLAN("", "STUDIO", "123456", Device::Kind::windows);
    EXPECT_EQ(first().name, "Desk") << "nothing is saved before the session stands";
    succeed();
    ASSERT_EQ(store.count(), 2);
    EXPECT_EQ(first().id, studio);
    EXPECT_EQ(first().name, "STUDIO");
    EXPECT_EQ(first().host, "10.0.0.3") << "an empty host keeps the saved one";
    EXPECT_EQ(first().state, Device::State::awake);
    EXPECT_EQ(first().lastSeen, "now");
    EXPECT_EQ(first().relayToken, QString("tok"));
    EXPECT_EQ(model->route(), Route::Session);
    EXPECT_EQ(session.targetIsWindows, true);
    ASSERT_EQ(session.dials.size(), 1u);
    EXPECT_EQ(session.dials[0].code, "123456");
    EXPECT_EQ(session.pending.back()->machine.id, studio) << "the session's success goes to this machine";
    // Saved: a fresh store reads the same front machine.
    EXPECT_EQ(DeviceStore(defaults, false).devices().front().id, studio);
}

TEST_F(Machines, PairingANewMachineOnTheNetworkAddsItInFront) {
    save("Desk", "10.0.0.2");
    make();
    model->connectLAN("10.0.0.9", "Lab", "", Device::Kind::linux);
    EXPECT_EQ(session.targetKind, Device::Kind::linux);
    EXPECT_EQ(session.targetIsWindows, false);
    EXPECT_EQ(store.count(), 1);
    succeed();
    EXPECT_EQ(store.count(), 2);
    EXPECT_EQ(first().name, "Lab");
    EXPECT_EQ(first().host, "10.0.0.9");
    EXPECT_FALSE(first().deviceId || first().relayAccount);
    EXPECT_EQ(model->activeName(), "Lab");
    EXPECT_FALSE(model->activeDeviceId());
}

TEST_F(Machines, ARelayPairingKeepsStoredCredentialsUnlessTheLinkBringsAllThree) {
    save("Desk", "", QString("aa11"));
    make();
    model->connectRelay("aa11", "Desk", "", Device::Kind::mac, QString("new"), QString("t2"), std::nullopt);
    succeed(true);
    EXPECT_EQ(first().relayAccount, QString("acct"));
    EXPECT_EQ(first().relayToken, QString("tok"));
    ASSERT_EQ(session.relayDials.size(), 1u);
    EXPECT_EQ(session.relayDials[0].account, std::optional<std::string>("new")) << "the dial takes the link's own";
    EXPECT_FALSE(session.relayDials[0].relay);

    model->connectRelay("aa11", "Desk", "", Device::Kind::mac, QString("new"), QString("t2"), QString("r2"));
    succeed(true);
    EXPECT_EQ(first().relayAccount, QString("new"));
    EXPECT_EQ(first().relayHost, QString("r2"));

    model->connectRelay("bb22", "Other", "42", Device::Kind::mac, QString(""), QString("t3"), std::nullopt);
    succeed(true, "bb22");
    EXPECT_EQ(store.count(), 2);
    EXPECT_EQ(first().deviceId, QString("bb22"));
    EXPECT_FALSE(first().relayAccount) << "an empty value stores nothing";
    EXPECT_EQ(first().relayToken, QString("t3"));
    EXPECT_EQ(model->activeDeviceId(), QString("bb22"));
}

TEST_F(Machines, OpeningDialsTheRelayWithTheStoredCredentialsOrTheHost) {
    save("Desk", "10.0.0.2");
    save("Away", "", QString("cc33"));
    make();
    model->open(1);
    ASSERT_EQ(session.relayDials.size(), 1u);
    EXPECT_EQ(session.relayDials[0].room, "cc33");
    EXPECT_EQ(session.relayDials[0].token, std::optional<std::string>("tok"));
    model->open(0);
    EXPECT_EQ(session.dials.back().target, "10.0.0.2");
    EXPECT_EQ(model->route(), Route::Session);
    model->open(7); // no such row
    EXPECT_EQ(session.dials.size(), 2u);
}

TEST_F(Machines, AMachinePairedOnTheNetworkIsDialledThereAgainOnceItsIdentifierIsKnown) {
    make();
    model->connectLAN("127.0.0.1:47810", "Lab", "123456", Device::Kind::linux);
    // Saved with what the handshake taught it.
    succeed(false, "dd44");
    model->endSession();
    model->open(0);
    EXPECT_TRUE(session.relayDials.empty());
    ASSERT_EQ(session.dials.size(), 2u);
    EXPECT_EQ(session.dials.back().kind, "host");
    EXPECT_EQ(session.dials.back().target, "127.0.0.1:47810");
    EXPECT_EQ(session.dials.back().code, "") << "by key now";
    EXPECT_FALSE(session.fallbacks.back()) << "no relay ever carried it";
}

TEST_F(Machines, ALinkNamingAHostIsTriedThereFirstAndAFailedAttemptSavesNothing) {
    make();
    const QString id = "0123456789abcdef0123456789abcdef";
    const QString link = "dovrel://pair?host=10.77.0.1&code=123456&name=Den&mac=AA:BB:CC:DD:EE:01&id=" + id +
                         "&relay=relay.dovrel.net:8443&kind=linux";
    ASSERT_TRUE(model->connectLink(link));
    EXPECT_EQ(session.dials.back().target, "10.77.0.1");
    ASSERT_TRUE(session.fallbacks.back()) << "the relay stands in when the host does not answer";
    EXPECT_EQ(session.fallbacks.back()->room, id.toStdString());
    EXPECT_EQ(session.pending.back()->machine.mac, "aa:bb:cc:dd:ee:01");
    session.play(PhaseKind::rejected);
    EXPECT_EQ(DeviceStore(defaults, false).count(), 0) << "no card claims it is awake";

    // A card goes the same way; the relay stands behind its host only once a relay session reached it.
    save("Away", "10.0.0.8", QString("ee55"));
    model->open(0);
    EXPECT_EQ(session.dials.back().target, "10.0.0.8");
    ASSERT_TRUE(session.fallbacks.back());
    EXPECT_EQ(session.fallbacks.back()->token, std::optional<std::string>("tok"));
}

TEST_F(Machines, LaunchArgumentsThatCannotBeUsedSayWhyAndTheHandshakeNamesTheMachine) {
    make({"-autoLink", "dovrel://pair?host=10.0.0.5&name=Lab", "-pairingCode"});
    model->appeared();
    EXPECT_TRUE(session.dials.empty());
    EXPECT_EQ(model->notice(), "-pairingCode was not used: it needs a value after it.\n"
                               "-autoLink was not used: it carries no pairing code.");

    save("Lab", "10.0.0.5", QString("ab12"));
    make({"-autoHost", "10.0.0.6"});
    model->appeared();
    EXPECT_EQ(session.targetKind, std::nullopt) << "its kind is not known yet";
    session.agentId = "ab12";
    session.play(PhaseKind::connected);
    EXPECT_EQ(model->activeName(), "Lab") << "the handshake proved which machine it is";
    EXPECT_EQ(session.targetKind, Device::Kind::mac);
}

TEST_F(Machines, DemoCardsNeverDial) {
    save("Desk", "10.0.0.2");
    make({"-demo"});
    model->appeared();
    EXPECT_EQ(pollStarts, 0) << "no poll in demo mode";
    model->open(0);
    EXPECT_TRUE(session.dials.empty());
    EXPECT_EQ(session.demos, 1);
    EXPECT_TRUE(model->demoSession());
    EXPECT_EQ(model->route(), Route::Session);
    // The connected phase of a session opened from this view ends the demo flag.
    model->endSession();
    EXPECT_FALSE(model->demoSession());
}

TEST_F(Machines, StatisticsReachTheActiveMachine) {
    save("Desk", "10.0.0.2");
    make();
    model->appeared();
    EXPECT_EQ(pollStarts, 1);
    model->open(0);
    session.stats(37, 80, -1);
    EXPECT_DOUBLE_EQ(first().cpu.back(), 0.37);
    EXPECT_DOUBLE_EQ(first().ram, 0.80);
    EXPECT_FALSE(first().battery);
    session.play(PhaseKind::connected);
    session.stats(5, 10, 64);
    EXPECT_EQ(first().battery, 0.64);
    EXPECT_TRUE(first().statsCurrent);
    // The agent went away: its last figures are not the machine's load now.
    session.play(PhaseKind::rejected);
    EXPECT_FALSE(first().statsCurrent);
    EXPECT_TRUE(first().cpu.empty());
}

TEST_F(Machines, AnAutomaticLinkPairsWithItsOwnCode) {
    make({"-pairingCode", "999999", "-autoLink", "dovrel://pair?host=10.0.0.5&code=123456&name=Lab&kind=linux"});
    model->appeared();
    ASSERT_EQ(session.dials.size(), 1u);
    EXPECT_EQ(session.dials[0].kind, "host");
    EXPECT_EQ(session.dials[0].target, "10.0.0.5");
    EXPECT_EQ(session.dials[0].code, "123456");
    EXPECT_EQ(model->notice(), "-pairingCode was not used: the link given with -autoLink carries its own code.");
    succeed();
    EXPECT_EQ(first().name, "Lab");
    EXPECT_EQ(first().kind, Device::Kind::linux);
    EXPECT_EQ(model->route(), Route::Session);
    EXPECT_FALSE(model->connectLink("dovrel://pair?nonsense"));
}

TEST_F(Machines, UnpairingAsksThenForgetsAndTellsTheAgent) {
    save("Desk", "10.0.0.2", QString("dd44"));
    save("Lab", "10.0.0.3");
    make();
    model->unpairRequested(0);
    EXPECT_EQ(model->alert(), Alert::Unpair);
    EXPECT_EQ(model->alertTitle(), "Unpair “Desk”?");
    EXPECT_TRUE(model->alertText().startsWith("This computer forgets it, and DOVRELÆ tells"));
    EXPECT_EQ(model->alertConfirm(), "Unpair");
    EXPECT_TRUE(model->alertDestructive()) << "drawn as an end, not as the calm main action";
    model->answerAlert(false);
    EXPECT_EQ(model->alert(), Alert::None);
    EXPECT_EQ(store.count(), 2);
    EXPECT_TRUE(session.revokes.empty());

    model->unpairRequested(0);
    model->answerAlert(true);
    EXPECT_EQ(store.count(), 1);
    EXPECT_EQ(DeviceStore(defaults, false).count(), 1);
    ASSERT_EQ(session.revokes.size(), 1u);
    EXPECT_EQ(session.revokes[0].deviceId, std::optional<std::string>("dd44"));
    EXPECT_EQ(session.revokes[0].host, "10.0.0.2");
    ASSERT_TRUE(session.revokes[0].relay) << "a relay session has reached it: the relay stands behind the host";
    EXPECT_EQ(session.revokes[0].relay->token, std::optional<std::string>("tok"));
    session.revokeOutcomes[0](UnpairOutcome::told);
    EXPECT_EQ(model->alert(), Alert::None) << "told as the alert said: nothing more to say";
}

TEST_F(Machines, AMachineOnlyThisNetworkReachedIsUnpairedThereAndOneNotToldIsSaidSoAfterTheAlertAsked) {
    save("Desk", "10.0.0.2", QString("dd44"));
    std::vector<Device> all = store.devices();
    all[0].relayAccount = all[0].relayToken = all[0].relayHost = std::nullopt;
    store.setDevices(all);
    save("Lab", "10.0.0.3");
    make();
    model->unpairRequested(0);
    model->answerAlert(true);
    ASSERT_EQ(session.revokes.size(), 1u);
    EXPECT_FALSE(session.revokes[0].relay) << "no relay session reached it: it is not looked for there";
    model->renameRequested(0); // an alert asked meanwhile is answered first
    session.revokeOutcomes[0](UnpairOutcome::unanswered);
    EXPECT_EQ(model->alert(), Alert::Rename);
    model->answerAlert(false);
    EXPECT_EQ(model->alert(), Alert::UnpairNotTold);
    EXPECT_TRUE(model->alertAcknowledgeOnly());
    EXPECT_TRUE(model->alertText().contains("10.0.0.2")) << "names where it was looked for";
    EXPECT_TRUE(model->alertText().contains("did not answer"));
}

TEST_F(Machines, AStoppedAgentIsSaidBeforehandNotToBeToldAndARefusalIsNotCalledSilence) {
    save("Desk", "10.0.0.2", QString("dd44"));
    save("Lab", "10.0.0.3", QString("ee55"));
    make();
    store.setLiveness(store.devices()[0].id, DeviceStore::Liveness::agentStopped);
    model->unpairRequested(0);
    EXPECT_TRUE(model->alertText().startsWith("DOVRELÆ isn’t running on “Desk”, so it cannot be told"))
        << model->alertText().toStdString();
    model->answerAlert(true);
    session.revokeOutcomes[0](UnpairOutcome::refused);
    EXPECT_EQ(model->alert(), Alert::UnpairNotTold);
    EXPECT_TRUE(model->alertText().contains("10.0.0.2 refused the connection")) << model->alertText().toStdString();
    model->answerAlert(true);

    // Its agent had forgotten this computer already: the pairing is gone on both sides.
    model->unpairRequested(0);
    EXPECT_TRUE(model->alertText().startsWith("This computer forgets it, and DOVRELÆ tells"));
    model->answerAlert(true);
    session.revokeOutcomes[1](UnpairOutcome::alreadyForgotten);
    EXPECT_EQ(model->alert(), Alert::None);
}

TEST_F(Machines, RenamingTakesTheTrimmedFieldAndIgnoresABlankOne) {
    save("Desk", "10.0.0.2");
    make();
    model->renameRequested(0);
    EXPECT_EQ(model->alert(), Alert::Rename);
    EXPECT_EQ(model->alertTitle(), "Rename “Desk”");
    EXPECT_EQ(model->alertField(), "Desk");
    EXPECT_EQ(model->alertConfirm(), "Save");
    EXPECT_FALSE(model->alertDestructive());
    model->answerAlert(true, "  \n ");
    EXPECT_EQ(first().name, "Desk");
    model->renameRequested(0);
    model->answerAlert(true, "  Front desk\n");
    EXPECT_EQ(first().name, "Front desk");
}

TEST_F(Machines, TheAccountAsksToSignOutOrOpensTheSignIn) {
    make();
    model->accountTapped();
    EXPECT_TRUE(model->showSignIn());
    EXPECT_EQ(model->alert(), Alert::None);
    model->signInDone("ada");
    EXPECT_FALSE(model->showSignIn());
    EXPECT_EQ(model->accountName(), "ada");

    account->save({"ada", "secret-token", "relay.example", 8443});
    model->accountTapped();
    EXPECT_EQ(model->alert(), Alert::SignOut);
    EXPECT_EQ(model->alertTitle(), "Signed in as ada");
    EXPECT_EQ(model->alertConfirm(), "Sign out");
    model->answerAlert(true);
    EXPECT_FALSE(account->current());
    EXPECT_EQ(model->accountName(), "");
}
