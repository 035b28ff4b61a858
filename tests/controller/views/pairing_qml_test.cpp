// The pairing screen and the sign-in sheet driven through the real QML offscreen, with the root's model
// over a recording session port and the HTTPS account API double: keys typed into the boxes, Return,
// Back, the sheet's fields and button.
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/QQmlExtensionPlugin>

#include <gtest/gtest.h>

#include "../../support/Settling.h"
#include "../ui/QuibPanelFakes.h"
#include "MainWindow.h"
#include "PairingTestSupport.h"
#include "ViewTestSupport.h"
#include "controller/client/input/RemoteInput.h"
#include "controller/client/session/InputBinding.h"
#include "controller/platform/QtHttpClient.h"
#include "controller/ui/look/AppearanceModel.h"
#include "controller/ui/pairing/PairingViewModel.h"
#include "controller/ui/root/RootViewModel.h"
#include "controller/ui/session/SessionViewModel.h"
#include "controller/ui/signin/SignInViewModel.h"
#include "runtime/Scheduler.h"
#include "tests/support/accountapi/AccountApiDouble.h"

Q_IMPORT_QML_PLUGIN(Dovrel_ControllerPlugin)
Q_IMPORT_QML_PLUGIN(Dovrel_LookPlugin)

using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {

const QString room = "fedcba9876543210fedcba9876543210";

class LightDesktop final : public ColorSchemeSource {
public:
    ColorScheme current() const override { return ColorScheme::light; }
};

struct PairingQmlTest : ::testing::Test {
    // Key presses, one character at a time, into whatever has the focus.
    void typeText(const QString& text) {
        for (const QChar c : text)
            QTest::keyClick(window, c.toLatin1());
    }

    QGuiApplication& application = viewApp();
    dovrel::test::TempDir dir;
    dovrel::test::AccountApiDouble api{dir.path()};
    std::shared_ptr<CountingHttpClient> http = std::make_shared<CountingHttpClient>(
        std::make_shared<QtHttpClient>(dovrel::makeSystemResolver(), api.caFile()));
    AccountApi accountApi{http, "127.0.0.1", api.port(), "relay.default", 8443};
    RootServices services;
    FakeSessionPort session;
    LightDesktop desktop;
    AppearanceModel appearance{services.defaults, desktop};
    std::unique_ptr<WEXClient> client;
    std::unique_ptr<RemoteInput> input;
    std::unique_ptr<RootViewModel> root;
    std::unique_ptr<FileTransfers> files;
    std::unique_ptr<SessionViewModel> sessionModel;
    std::unique_ptr<PairingViewModel> pairing;
    std::unique_ptr<SignInViewModel> signIn;
    std::unique_ptr<DeckParts> deckParts;
    PanelParts quib;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow* window = nullptr;

    void SetUp() override {
        ClientConfig config;
        config.settingsPath = dir.file("c.ini");
        config.secrets = std::make_shared<FileSecretStore>(dir.file("client-secrets"));
        config.videoPort = 0;
        client = std::make_unique<WEXClient>(std::move(config), services.account);
        input = makeRemoteInput(*client, dovrel::realScheduler());
        root = std::make_unique<RootViewModel>(session, services.store, *services.account,
                                               LaunchArguments::parse({"p"}), services.startPolling);
        files = std::make_unique<FileTransfers>(*client, *client, dovrel::realScheduler());
        sessionModel =
            std::make_unique<SessionViewModel>(*client, *input, *files, dovrel::realScheduler(), QColor(16, 185, 129));
        pairing = std::make_unique<PairingViewModel>(accountApi, *services.account, *root);
        signIn = std::make_unique<SignInViewModel>(accountApi, *services.account, *root);
        deckParts = std::make_unique<DeckParts>(*root, services.store, dir.file("deck.ini"), false);
        engine = std::make_unique<QQmlApplicationEngine>();
        window =
            loadMainWindow(*engine, {*root, *sessionModel, appearance, *pairing, *signIn, deckParts->deck, quib.panel});
        ASSERT_TRUE(window);
        window->requestActivate();
    }
    void TearDown() override { engine.reset(); }

    // By name in the scene, made by a repeater or not.
    static QQuickItem* find(QQuickItem* from, const QString& name) {
        if (from->objectName() == name) return from;
        for (QQuickItem* child : from->childItems())
            if (QQuickItem* found = find(child, name)) return found;
        return nullptr;
    }
    // No fade of a screen or sheet around the item is under way.
    static bool settled(QQuickItem* around) {
        for (; around; around = around->parentItem())
            if (around->opacity() < 0.99) return false;
        return true;
    }
    QQuickItem* item(const char* name) {
        QQuickItem* found = nullptr;
        waitFor([&] {
            found = find(window->contentItem(), QString::fromLatin1(name));
            return found && found->isVisible() && settled(found->parentItem());
        });
        return found;
    }
    // Where the item stands once nothing in the window moves: a field still sliding into place (a busy
    // machine draws its steps late) would miss the click.
    void click(QQuickItem* target) {
        ASSERT_TRUE(target);
        const QStringList moving = dovrel::test::waitSettled(*window);
        ASSERT_TRUE(moving.isEmpty()) << moving.join(", ").toStdString();
        const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
        QTest::mouseClick(window, Qt::LeftButton, {}, centre.toPoint());
    }
    void typeCode() {
        ASSERT_TRUE(item("pairingBack"));
        // The route's fade has settled: the screen is the one on show.
        ASSERT_TRUE(waitFor([&] { return item("codeA") != nullptr; }));
        click(item("codeA"));
        typeText("k4m2");
        ASSERT_TRUE(waitFor([&] { return item("codeB")->hasActiveFocus(); })) << "four symbols move to the second box";
        typeText("9q-xr");
        EXPECT_EQ(item("codeA")->property("text").toString(), "K4M2");
        EXPECT_EQ(item("codeB")->property("text").toString(), "9QXR");
    }
};

} // namespace

TEST_F(PairingQmlTest, ACodeTypedIntoTheBoxesPairsThroughTheRelay) {
    api.addShare("ann", "K4M29QXR",
                 ("dovrel://pair?code=246810&name=Render%20box&id=" + room + "&kind=linux").toStdString());
    root->showPairing();
    ASSERT_NO_FATAL_FAILURE(typeCode());
    QTest::keyClick(window, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return !session.dials.empty(); }));
    EXPECT_EQ(session.dials[0].kind, "relay");
    EXPECT_EQ(session.dials[0].target, room);
    EXPECT_EQ(session.dials[0].code, "246810");
    EXPECT_EQ(root->route(), RootViewModel::Route::Session);
    EXPECT_EQ(services.store.count(), 0) << "saved once its session stands";
    ASSERT_TRUE(session.pending.back());
    EXPECT_EQ(session.pending.back()->machine.name, "Render box");
}

TEST_F(PairingQmlTest, BackBeforeTheClaimAnswersLeavesNoMachineAndNoSession) {
    api.addShare("ann", "K4M29QXR", ("dovrel://pair?code=246810&name=Late&id=" + room).toStdString());
    api.holdReplies(true);
    root->showPairing();
    ASSERT_NO_FATAL_FAILURE(typeCode());
    click(item("claimButton"));
    ASSERT_TRUE(waitFor([&] { return api.heldCount() == 1; }));
    click(item("pairingBack"));
    ASSERT_TRUE(waitFor([&] { return root->route() == RootViewModel::Route::Deck; }));
    api.holdReplies(false);
    api.releaseHeld();
    ASSERT_TRUE(waitFor([&] { return http->answered == 1; }));
    EXPECT_TRUE(session.dials.empty());
    EXPECT_EQ(services.store.count(), 0);
    EXPECT_EQ(root->route(), RootViewModel::Route::Deck);
}

TEST_F(PairingQmlTest, ThePasteCardAndTheManualCardFilterWhatIsTyped) {
    root->showPairing();
    ASSERT_TRUE(item("linkField"));
    click(item("linkField"));
    QTest::keyClick(window, Qt::Key_Return);
    ASSERT_TRUE(item("linkError")) << "an empty link submitted with Return says so";
    click(item("manualCode"));
    typeText("4a8b2x9137");
    EXPECT_EQ(item("manualCode")->property("text").toString(), "482913");
    click(item("manualAddress"));
    typeText(room);
    click(item("platform-linux"));
    click(item("manualConnect"));
    ASSERT_TRUE(waitFor([&] { return !session.dials.empty(); }));
    EXPECT_EQ(session.dials[0].target, room);
    EXPECT_EQ(session.dials[0].name, "My computer");
    EXPECT_EQ(session.dials[0].code, "482913");
    ASSERT_TRUE(session.pending.back());
    EXPECT_EQ(session.pending.back()->machine.kind, Device::Kind::linux);
}

TEST_F(PairingQmlTest, AnAddressWithoutItsCodeIsAskedForItOnTheCodeFieldThenPairsWithIt) {
    const auto askedForTheCode = [&](std::size_t dials) {
        session.play(PhaseKind::needsCode);
        ASSERT_EQ(root->route(), RootViewModel::Route::Pairing);
        EXPECT_EQ(item("manualCodeError")->property("text").toString(),
                  "That computer needs its six-digit pairing code: type the code its DOVRELÆ window shows.");
        EXPECT_TRUE(item("manualCode")->property("invalid").toBool());
        EXPECT_EQ(item("manualAddress")->property("text").toString(), "10.0.0.7");
        EXPECT_TRUE(waitFor([&] { return item("manualCode")->hasActiveFocus(); })) << "it takes the typing";
        click(item("manualConnect"));
        EXPECT_EQ(session.dials.size(), dials) << "without the code it would only ask again";
    };
    root->showPairing();
    click(item("manualAddress"));
    typeText("10.0.0.7");
    click(item("manualConnect"));
    ASSERT_EQ(session.dials.size(), 1u);
    // At once, the screen still on its way out.
    ASSERT_NO_FATAL_FAILURE(askedForTheCode(1));
    click(item("manualCode"));
    typeText("246810");
    QTest::keyClick(window, Qt::Key_Return);
    ASSERT_EQ(session.dials.size(), 2u);
    EXPECT_EQ(session.dials[1].target, "10.0.0.7");
    EXPECT_EQ(session.dials[1].code, "246810");
    // Once the screen has gone, a new one says so.
    ASSERT_TRUE(waitFor([&] { return find(window->contentItem(), "manualConnect") == nullptr; }));
    ASSERT_NO_FATAL_FAILURE(askedForTheCode(2));
}

TEST_F(PairingQmlTest, TheSheetSignsInAndTheDeckShowsTheAccount) {
    api.addAccount("ada", "correct horse");
    root->accountTapped();
    ASSERT_TRUE(item("signInSubmit"));
    click(item("modeSignIn"));
    ASSERT_TRUE(waitFor([&] { return !signIn->creating(); }));
    click(item("signInAccount"));
    typeText("Ada");
    click(item("signInPassword"));
    typeText("correct horse");
    click(item("signInSubmit"));
    ASSERT_TRUE(waitFor([&] { return !root->showSignIn(); })) << signIn->error().toStdString();
    EXPECT_EQ(root->accountName(), "ada");
    EXPECT_EQ(services.account->current()->account, "ada");
    EXPECT_EQ(api.requests("/v1/signin").at(0).json().value("password"), "correct horse");
    EXPECT_TRUE(signIn->password().isEmpty());

    // Signed out, the sheet opens empty.
    root->accountTapped();
    root->answerAlert(true);
    ASSERT_FALSE(services.account->current());
    root->accountTapped();
    ASSERT_TRUE(item("signInSubmit"));
    EXPECT_TRUE(item("signInPassword")->property("text").toString().isEmpty());
    EXPECT_TRUE(item("signInAccount")->property("text").toString().isEmpty());
}
