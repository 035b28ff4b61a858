// The pairing screen's model: the boxes' and code field's filters, the three ways to a result, and
// claims against the account API (held answers, and the HTTPS double).
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include "PairingTestSupport.h"
#include "ViewTestSupport.h"
#include "controller/platform/QtHttpClient.h"
#include "controller/ui/pairing/PairingFilters.h"
#include "controller/ui/pairing/PairingViewModel.h"
#include "tests/support/accountapi/AccountApiDouble.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {

const QString room = "0123456789abcdef0123456789abcdef";
const QString relayLink = "dovrel://pair?host=10.0.0.5&code=482913&name=Studio&id=" + room +
                          "&relay=relay.example.net:9443&kind=linux&account=team-7&token=t0k";

struct PairingModelTest : ::testing::Test {
    QGuiApplication& application = viewApp(); // before the double, whose thread needs it
    RootServices services;
    RecordingPairingTarget target;
    PairingViewModel model{services.api, *services.account, target};
    FakeHttpClient& http() { return *services.http; }
    void typeAndClaim() {
        model.editCodeA("k4m2");
        model.editCodeB("9qxr");
        model.claimShareCode();
    }
    void answerClaim(int status, const QJsonObject& body) {
        http().answer(http().sent.size() - 1, status, QJsonDocument(body).toJson());
    }
};

} // namespace

TEST(PairingFilters, ShareCodeBoxes) {
    EXPECT_EQ(shareCodeBoxText("k4m2"), "K4M2");
    EXPECT_EQ(shareCodeBoxText("abcd"), "ABCD");
    EXPECT_EQ(shareCodeBoxText("oilu"), "") << "O, I, L and U are not in the alphabet, in either case";
    EXPECT_EQ(shareCodeBoxText("AB-C D"), "ABCD");
    EXPECT_EQ(shareCodeBoxText("K4M2-9QXR"), "K4M2") << "a pasted code keeps its first four";
    // Upper-casing follows Unicode, not the locale: a Turkish dotless or dotted i never becomes a symbol.
    EXPECT_EQ(shareCodeBoxText(QString::fromUtf8("\u0131\u0130x")), "X");
    // Full-width and accented letters are not the alphabet's, even when they upper-case to something.
    EXPECT_EQ(shareCodeBoxText(QString::fromUtf8("\uff21\u00e9\u0041\u0301")), "A");
}

TEST(PairingFilters, PairingCodeDigitsAreAsciiOnly) {
    EXPECT_EQ(pairingCodeDigits("12a34b5678"), "123456");
    // Arabic-Indic, full-width and superscript digits are numbers, but not the agent's.
    EXPECT_EQ(pairingCodeDigits(QString::fromUtf8("\u0661\u0662\uff13\u00b94")), "4");
    EXPECT_EQ(pairingCodeDigits(" 4 8 2 "), "482");
}

TEST_F(PairingModelTest, FirstValues) {
    EXPECT_EQ(model.manualName(), "My computer");
    EXPECT_EQ(model.manualKind(), "linux") << "the agent runs on Linux only";
    EXPECT_FALSE(model.codeComplete());
    const QString signedOut = model.manualNote();
    services.account->save({"ada", "tok", "relay.example", 8443});
    model.begin();
    EXPECT_NE(model.manualNote(), signedOut) << "the note follows the account, read at each visit";
}

TEST_F(PairingModelTest, TheBoxesMoveTheFocusAndClaimOnlyWhenComplete) {
    QSignalSpy changed(&model, &PairingViewModel::codeAChanged);
    model.editCodeA("ab-O");
    EXPECT_EQ(model.codeA(), "AB");
    EXPECT_GE(changed.count(), 1) << "the box is told to drop what it refused";
    EXPECT_EQ(model.codeFocus(), PairingViewModel::CodeField::None);
    model.editCodeA("abcd");
    EXPECT_EQ(model.codeFocus(), PairingViewModel::CodeField::B);
    model.setCodeFocus(PairingViewModel::CodeField::A);
    model.editCodeA("ABCD"); // four again, unchanged: the focus moves all the same
    EXPECT_EQ(model.codeFocus(), PairingViewModel::CodeField::B);
    model.editCodeB("123");
    model.claimShareCode(); // seven characters
    EXPECT_TRUE(http().sent.empty());
    model.editCodeB("1234");
    EXPECT_TRUE(http().sent.empty()) << "filling the second box starts nothing";
    model.claimShareCode();
    ASSERT_EQ(http().sent.size(), 1u);
    EXPECT_TRUE(model.claiming());
    model.claimShareCode();
    EXPECT_EQ(http().sent.size(), 1u) << "one claim at a time";
}

// The boxes show an error only when the service refused the code they hold.
TEST_F(PairingModelTest, OnlyARefusedCodeMarksTheBoxes) {
    typeAndClaim();
    answerClaim(404, {{"error", "That code has expired. Ask for a new one."}});
    EXPECT_TRUE(model.codeRefused());
    typeAndClaim();
    EXPECT_FALSE(model.codeRefused()) << "a new claim clears it with the error";
    http().sent.back().done({QString("Network is unreachable"), 0, {}});
    EXPECT_EQ(model.shareError(), "Network is unreachable");
    EXPECT_FALSE(model.codeRefused()) << "a claim that got no answer says nothing of the code";
    typeAndClaim();
    answerClaim(200, {{"payload", "https://example.com/"}});
    EXPECT_FALSE(model.codeRefused());
}

TEST_F(PairingModelTest, AClaimSendsTheCodeAsItWasAtThePress) {
    typeAndClaim();
    model.editCodeA("zzzz");
    model.editCodeB("yyyy");
    ASSERT_EQ(http().sent.size(), 1u);
    EXPECT_EQ(QJsonDocument::fromJson(http().sent[0].request.body).object(), (QJsonObject{{"code", "K4M29QXR"}}));
    answerClaim(200, {{"payload", relayLink}});
    ASSERT_EQ(target.results.size(), 1u);
    const auto& r = target.results[0];
    EXPECT_FALSE(r.relay) << "the host it names first";
    EXPECT_EQ(r.target, "10.0.0.5");
    ASSERT_TRUE(r.link);
    EXPECT_EQ(r.link->deviceId, room) << "and the relay behind it";
    EXPECT_EQ(r.name, "Studio");
    EXPECT_EQ(r.code, "482913");
    EXPECT_EQ(r.kind, Device::Kind::linux);
    EXPECT_EQ(r.account, "team-7");
    EXPECT_EQ(r.token, "t0k");
    EXPECT_EQ(r.relay_, "relay.example.net:9443");
    EXPECT_FALSE(model.claiming());
    EXPECT_EQ(model.codeA(), "ZZZZ") << "the boxes keep what they hold";
}

TEST_F(PairingModelTest, AClaimThatAnswersAfterBackOrAfterTheScreenWentIsDropped) {
    typeAndClaim();
    model.cancel();
    EXPECT_EQ(target.cancels, 1);
    answerClaim(200, {{"payload", relayLink}});
    EXPECT_TRUE(target.results.empty()) << "Back was pressed: nothing is saved or dialled";

    // Shown again: a fresh screen; its claim answers while the window shows something else.
    target.shown = true;
    model.begin();
    EXPECT_EQ(model.codeA(), "");
    typeAndClaim();
    target.shown = false;
    answerClaim(200, {{"payload", relayLink}});
    EXPECT_TRUE(target.results.empty());
    EXPECT_FALSE(model.claiming());

    // A claim of an earlier visit answering during a later one counts for nothing either.
    target.shown = true;
    model.begin();
    typeAndClaim();
    model.begin();
    answerClaim(200, {{"payload", relayLink}});
    EXPECT_TRUE(target.results.empty());
}

TEST_F(PairingModelTest, APastedLinkWhileAClaimRunsIsTheOneResult) {
    typeAndClaim();
    model.setLink("dovrel://pair?host=10.0.0.9&code=111111&name=Desk");
    model.connectFromLink();
    answerClaim(200, {{"payload", relayLink}});
    ASSERT_EQ(target.results.size(), 1u);
    EXPECT_FALSE(target.results[0].relay);
    EXPECT_EQ(target.results[0].target, "10.0.0.9");
    EXPECT_EQ(target.results[0].kind, Device::Kind::mac);
}

TEST_F(PairingModelTest, TheLinkCard) {
    model.connectFromLink(); // Return in the empty field
    EXPECT_FALSE(model.linkError().isEmpty());
    model.setLink("   ");
    model.connectFromLink();
    EXPECT_FALSE(model.linkError().isEmpty());
    model.setLink("dovrel://pair?x");
    EXPECT_FALSE(model.linkError().isEmpty()) << "editing does not clear the error";
    EXPECT_TRUE(target.results.empty());
    model.setLink(relayLink);
    model.connectFromLink();
    EXPECT_TRUE(model.linkError().isEmpty());
    ASSERT_EQ(target.results.size(), 1u);
    ASSERT_TRUE(target.results[0].link);
    EXPECT_EQ(target.results[0].link->deviceId, room);
    EXPECT_EQ(model.link(), relayLink);
}

TEST(PairingFilters, TheManualAddressIsAHostAsALinkReadsItOrARelayRoom) {
    using Way = TypedMachine::Way;
    EXPECT_EQ(typedMachine(" 10.77.0.1\n"), (TypedMachine{Way::lan, "10.77.0.1"}));
    EXPECT_EQ(typedMachine("Studio.Local:47900"), (TypedMachine{Way::lan, "studio.local:47900"}));
    EXPECT_EQ(typedMachine(room.toUpper()), (TypedMachine{Way::relay, room})) << "32 hex digits are a room";
    for (const char* bad : {"", "10.77.0.1:0", "10.77.0.1:70000", "fe80::1", "http://10.0.0.5", "a b", "-x.lan"})
        EXPECT_FALSE(typedMachine(bad)) << bad;
}

TEST_F(PairingModelTest, TheManualCard) {
    model.setManualAddress("   ");
    model.connectManual();
    EXPECT_TRUE(model.manualError().isEmpty()) << "nothing typed is not an error";
    model.setManualAddress("studio.lan:x");
    model.connectManual();
    EXPECT_FALSE(model.manualError().isEmpty());
    EXPECT_TRUE(target.results.empty());
    model.setManualAddress("Studio.LAN:47900");
    model.connectManual();
    ASSERT_EQ(target.results.size(), 1u);
    EXPECT_FALSE(target.results[0].relay) << "an address is dialled on the local network";
    EXPECT_EQ(target.results[0].target, "studio.lan:47900");
    EXPECT_TRUE(model.manualError().isEmpty());
    target.results.clear();
    model.editManualCode("4a8b2x9137");
    EXPECT_EQ(model.manualCode(), "482913");
    model.setManualKind("beos");
    EXPECT_EQ(model.manualKind(), "linux");
    model.setManualKind("mac");
    model.setManualName(" \t");
    model.setManualAddress("  " + room + "\n");
    model.connectManual();
    ASSERT_EQ(target.results.size(), 1u);
    const auto& r = target.results[0];
    EXPECT_TRUE(r.relay);
    EXPECT_EQ(r.target, room);
    EXPECT_EQ(r.name, "That computer");
    EXPECT_EQ(r.code, "482913");
    EXPECT_EQ(r.kind, Device::Kind::mac);
    EXPECT_FALSE(r.account || r.token || r.relay_);
}

// The claim's refusals and odd answers, through HTTPS to the account API double.
struct PairingClaimDoubleTest : ::testing::Test {
    QGuiApplication& application = viewApp(); // before the double, whose thread needs it
    dovrel::test::TempDir dir;
    dovrel::test::AccountApiDouble api{dir.path()};
    RootServices services;
    std::shared_ptr<CountingHttpClient> http = std::make_shared<CountingHttpClient>(
        std::make_shared<QtHttpClient>(dovrel::makeSystemResolver(), api.caFile()));
    AccountApi client{http, "127.0.0.1", api.port(), "relay.default", 8443};
    RecordingPairingTarget target;
    PairingViewModel model{client, *services.account, target};

    void claim(const QString& a, const QString& b) {
        model.editCodeA(a);
        model.editCodeB(b);
        model.claimShareCode();
        ASSERT_TRUE(waitFor([&] { return !model.claiming(); }));
    }
};

TEST_F(PairingClaimDoubleTest, SuccessAndEachRefusal) {
    api.addShare("ann", "K4M2-9QXR", "dovrel://pair?host=192.168.1.20&code=123456&name=Den&id=");
    claim("k4m2", "9qxr");
    ASSERT_EQ(target.results.size(), 1u) << model.shareError().toStdString();
    EXPECT_FALSE(target.results[0].relay) << "an empty identifier goes by the local network";
    EXPECT_EQ(target.results[0].target, "192.168.1.20");
    EXPECT_EQ(api.requests("/v1/claim").at(0).json(), (QJsonObject{{"code", "K4M29QXR"}}));

    claim("k4m2", "9qxr"); // used up
    EXPECT_EQ(model.shareError(), "That code is unknown or has expired.");
    api.script("/v1/claim", dovrel::test::AccountApiReply::json(403, {{"error", 7}}));
    claim("k4m2", "9qxr");
    EXPECT_EQ(model.shareError(), "That code didn't work.");
    api.script("/v1/claim", dovrel::test::AccountApiReply::json(200, {{"payload", ""}}));
    claim("k4m2", "9qxr");
    EXPECT_EQ(model.shareError(), "That code didn't return a machine.");
    api.script("/v1/claim", dovrel::test::AccountApiReply::json(200, {{"payload", "https://example.com/"}}));
    claim("k4m2", "9qxr");
    EXPECT_EQ(model.shareError(), "That code returned something we couldn't read.");
    EXPECT_EQ(target.results.size(), 1u);
}

TEST_F(PairingClaimDoubleTest, ALateAnswerAfterBackSavesNothing) {
    api.addShare("ann", "K4M29QXR", relayLink.toStdString());
    api.holdReplies(true);
    model.editCodeA("K4M2");
    model.editCodeB("9QXR");
    model.claimShareCode();
    ASSERT_TRUE(waitFor([&] { return api.heldCount() == 1; }));
    model.cancel();
    api.holdReplies(false);
    api.releaseHeld();
    ASSERT_TRUE(waitFor([&] { return http->answered == 1; })) << "the claim's answer reached the screen's model";
    EXPECT_EQ(api.shares().at(0).uses, 0) << "the service did redeem the code";
    EXPECT_TRUE(target.results.empty());
    EXPECT_TRUE(model.shareError().isEmpty());
}

TEST_F(PairingModelTest, ALinkWithoutItsCodeGoesAndWhenTheCodeIsWantedGoesAgainWithTheCodeTyped) {
    QString bare = relayLink + "&mac=00:11:22:33:44:55";
    bare.replace("code=482913&", "");
    model.setLink(bare);
    model.connectFromLink();
    ASSERT_EQ(target.results.size(), 1u) << "a machine that knows this computer needs no code";
    target.askForCode({"10.0.0.5", "Studio", Device::Kind::linux});
    EXPECT_FALSE(model.manualCodeError().isEmpty());
    EXPECT_EQ(model.manualAddress(), "10.0.0.5");
    model.connectFromLink();
    EXPECT_EQ(target.results.size(), 1u) << "still without it, it would only ask again";
    model.editManualCode("246810");
    model.connectManual();
    ASSERT_EQ(target.results.size(), 2u);
    ASSERT_TRUE(target.results[1].link);
    EXPECT_EQ(target.results[1].link->code, "246810");
    EXPECT_EQ(target.results[1].link->relay, "relay.example.net:9443");
    EXPECT_EQ(target.results[1].link->mac, "00:11:22:33:44:55");
}
