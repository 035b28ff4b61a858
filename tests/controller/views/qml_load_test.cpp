// The controller's QML, offscreen: every file compiles, the window with its three screens and the
// loading overlay comes up without a single warning, and the assistant panel's controls drive its
// view-model.
#include <QDir>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml/QQmlExtensionPlugin>

#include <gtest/gtest.h>

#include "../../support/Settling.h"
#include "../../support/TempHome.h"
#include "../WaitUntil.h"
#include "../ui/QuibPanelFakes.h"
#include "MainWindow.h"
#include "ViewTestSupport.h"
#include "controller/client/input/RemoteInput.h"
#include "controller/client/session/InputBinding.h"
#include "controller/platform/FileSecretStore.h"
#include "controller/ui/look/AppearanceModel.h"
#include "controller/ui/pairing/PairingViewModel.h"
#include "controller/ui/root/RootViewModel.h"
#include "controller/ui/session/SessionViewModel.h"
#include "controller/ui/signin/SignInViewModel.h"
#include "runtime/Scheduler.h"

Q_IMPORT_QML_PLUGIN(Dovrel_ControllerPlugin)
Q_IMPORT_QML_PLUGIN(Dovrel_LookPlugin)

using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {

QStringList warnings;

void collect(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtDebugMsg && type != QtInfoMsg) warnings << text;
}

const QString moduleDir = QStringLiteral(":/qt/qml/Dovrel/Controller");

struct QmlFixture : ::testing::Test {
    dovrel::test::TempDir dir;
    std::shared_ptr<UserDefaults> defaults;
    std::unique_ptr<WEXClient> client;
    DarkDesktop desktop;
    FakeSessionPort session;
    RootServices services;

    void SetUp() override {
        viewApp();
        warnings.clear();
        qInstallMessageHandler(collect);
        defaults = std::make_shared<UserDefaults>(dir.file("c.ini"));
        ClientConfig config;
        config.settingsPath = dir.file("c.ini");
        config.secrets = std::make_shared<FileSecretStore>(dir.file("secrets"));
        config.videoPort = 0;
        client = std::make_unique<WEXClient>(std::move(config), services.account);
    }
    void TearDown() override { qInstallMessageHandler(nullptr); }
};

} // namespace

TEST_F(QmlFixture, EveryFileCompiles) {
    QQmlEngine engine;
    const QStringList files = QDir(moduleDir).entryList({"*.qml"});
    ASSERT_GE(files.size(), 10);
    for (const QString& file : files) {
        // Singletons (the theme, the window's actions): the window's test loads them.
        if (file == QLatin1String("Theme.qml") || file == QLatin1String("WindowActions.qml")) continue;
        QQmlComponent component(&engine, QUrl("qrc" + moduleDir + "/" + file));
        EXPECT_EQ(component.status(), QQmlComponent::Ready)
            << file.toStdString() << ": " << component.errorString().toStdString();
    }
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

TEST_F(QmlFixture, TheWindowShowsEachScreenWithoutWarnings) {
    AppearanceModel appearance(defaults, desktop);
    RootViewModel root(session, services.store, *services.account, LaunchArguments::parse({"p", "-autoHost", "h"}),
                       services.startPolling);
    DeckParts deckParts(root, dir.file("deck.ini"), true);
    auto input = makeRemoteInput(*client, dovrel::realScheduler());
    FileTransfers files(*client, *client, dovrel::realScheduler());
    SessionViewModel sessionModel(*client, *input, files, dovrel::realScheduler(), QColor(16, 185, 129));
    PairingViewModel pairing(services.api, *services.account, root);
    SignInViewModel signIn(services.api, *services.account, root);
    PanelParts quib;
    QQmlApplicationEngine engine;
    QQuickWindow* window =
        loadMainWindow(engine, {root, sessionModel, appearance, pairing, signIn, deckParts.deck, quib.panel});
    ASSERT_TRUE(window);
    EXPECT_EQ(window->size(), QSize(1120, 760));
    EXPECT_EQ(window->minimumSize(), QSize(880, 600));
    EXPECT_TRUE(dovrel::test::waitSettled(*window).isEmpty());
    EXPECT_EQ(session.dials.size(), 1u) << "the window's appearance starts the automatic connection";
    EXPECT_TRUE(window->findChild<QQuickItem*>("deckWordmark"));

    root.showPairing();
    EXPECT_TRUE(dovrel::test::waitSettled(*window).isEmpty());
    EXPECT_TRUE(window->findChild<QQuickItem*>("pairingBack"));

    session.play(PhaseKind::connected);
    EXPECT_TRUE(dovrel::test::waitSettled(*window).isEmpty());
    ASSERT_EQ(root.route(), RootViewModel::Route::Session);
    auto* overlay = window->findChild<QQuickItem*>("loadingOverlay");
    ASSERT_TRUE(overlay);
    EXPECT_TRUE(overlay->isVisible()) << "no picture yet: the overlay covers the session";
    EXPECT_FALSE(window->findChild<QQuickItem*>("deckWordmark")) << "the deck went once faded out";

    // The deck's colours follow the appearance at once.
    const QImage dark = window->grabWindow();
    appearance.toggle();
    root.endSession();
    // The deck fades back in: wait for its light ground rather than for a time a busy machine may miss.
    EXPECT_LT(qGray(dark.pixel(5, 5)), 60);
    EXPECT_TRUE(waitUntil([&] { return qGray(window->grabWindow().pixel(5, 5)) > 200; }))
        << "the deck came back light: " << qGray(window->grabWindow().pixel(5, 5));
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

namespace {

// By the visual tree, which also holds what a Repeater made.
QQuickItem* visualChild(QQuickItem* root, const char* name) {
    for (QQuickItem* item : root->childItems()) {
        if (item->objectName() == QLatin1String(name)) return item;
        if (QQuickItem* found = visualChild(item, name)) return found;
    }
    return nullptr;
}

} // namespace

TEST_F(QmlFixture, TheAssistantPanelDrivesItsModel) {
    PanelParts parts;
    auto& [assistant, remote, clipboard, panel] = parts;
    panel.show();
    QQmlEngine engine;
    QQmlComponent component(&engine, QUrl("qrc:/qt/qml/Dovrel/Controller/QuibPanel.qml"));
    QQuickWindow window;
    std::unique_ptr<QObject> object(component.createWithInitialProperties({{"model", QVariant::fromValue(&panel)}}));
    ASSERT_TRUE(object) << component.errorString().toStdString();
    auto* root = qobject_cast<QQuickItem*>(object.get());
    root->setParentItem(window.contentItem());
    window.resize(470, 400);
    window.show();
    QCoreApplication::processEvents();

    panel.setPrompt("fix grammar");
    QQuickItem* generate = visualChild(root, "quibGenerate");
    ASSERT_TRUE(generate);
    EXPECT_TRUE(generate->isEnabled());
    QMetaObject::invokeMethod(generate, "clicked");
    ASSERT_EQ(assistant->calls.size(), 1u);
    EXPECT_FALSE(generate->isEnabled());
    EXPECT_TRUE(visualChild(root, "quibBusy")->isVisible());
    assistant->calls[0].done(QString("Done."));
    EXPECT_EQ(visualChild(root, "quibDraft")->property("text").toString(), "Done.");
    EXPECT_EQ(visualChild(root, "quibStatus")->property("text").toString(),
              "Draft updated - Insert to type it into the remote.");

    QQuickItem* insert = visualChild(root, "quibInsert");
    ASSERT_TRUE(insert);
    QMetaObject::invokeMethod(insert, "clicked");
    EXPECT_EQ(remote->typed, std::vector<QString>{"Done."});

    assistant->remaining = 0;
    panel.setCloudConsent(false);
    EXPECT_TRUE(visualChild(root, "quibSignIn")->isVisible());
    EXPECT_FALSE(visualChild(root, "quibPrompt")->isVisible());
    EXPECT_FALSE(visualChild(root, "quibStatus")->isVisible());
    // Signed out, the notice's button is the way to sign in.
    int asked = 0;
    QObject::connect(&panel, &QuibPanelModel::signInRequested, [&] { ++asked; });
    assistant->account = false;
    panel.refresh();
    QQuickItem* signIn = visualChild(root, "quibSignInButton");
    ASSERT_TRUE(signIn && signIn->isVisible());
    QMetaObject::invokeMethod(signIn, "clicked");
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}
