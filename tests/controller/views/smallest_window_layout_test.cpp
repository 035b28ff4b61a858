// The window at its smallest, 880 x 600, offscreen: nothing of the title area, the session's top row,
// the wheel or the display picker is cut by the window's edge or lies over another control; labels stay
// whole (a name too long for its display tile ends in an ellipsis); at rest the session's controls are
// gone, and in full screen the title area's buttons and resize edges are.
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "../../support/FakeScheduler.h"
#include "../../support/QuickItems.h"
#include "../WEXClientTestAccess.h"
#include "../client/InputChannelFake.h"
#include "../ui/QuibPanelFakes.h"
#include "MainWindow.h"
#include "ViewTestSupport.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using namespace std::chrono_literals;

namespace {

void settle(QQuickWindow* window, int ms = 500) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        window->grabWindow();
    }
}

// Every item named `name` under `under`, through the item tree (a repeater's items included).
QList<QQuickItem*> itemsNamed(QQuickItem* under, const QString& name) {
    QList<QQuickItem*> found;
    for (QQuickItem* child : under->childItems()) {
        if (child->objectName() == name) found << child;
        found << itemsNamed(child, name);
    }
    return found;
}

QRectF sceneRect(QQuickItem* item) { return item->mapRectToScene(QRectF(0, 0, item->width(), item->height())); }

// The items named, each shown whole inside the window and none over another.
void expectLaidOutApart(QQuickWindow* window, const std::vector<const char*>& names) {
    const QRectF inside(0, 0, window->width(), window->height());
    std::vector<std::pair<std::string, QRectF>> placed;
    for (const char* name : names) {
        QQuickItem* item = dovrel::test::findItem(window->contentItem(), QString::fromLatin1(name));
        ASSERT_TRUE(item) << name;
        EXPECT_TRUE(item->isVisible()) << name;
        const QRectF r = sceneRect(item);
        EXPECT_TRUE(inside.contains(r)) << name << " is cut by the window's edge";
        for (const auto& [other, at] : placed)
            EXPECT_FALSE(r.intersects(at)) << name << " lies over " << other;
        placed.emplace_back(name, r);
    }
}

} // namespace

TEST(SmallestWindowLayout, TitleAreaTopRowWheelAndPickerFitWithoutOverlapAndLeaveAtRest) {
    RootServices services;
    dovrel::test::TempDir dir;
    dovrel::test::FakeScheduler clock;
    InputChannelFake channel;
    ClientConfig config;
    config.settingsPath = dir.file("c.ini");
    config.secrets = std::make_shared<FileSecretStore>(dir.file("secrets"));
    config.videoPort = 0;
    WEXClient client(std::move(config), services.account);
    RemoteInput input(channel, clock);
    FileTransfers files(client, client, clock);
    SessionViewModel model(client, input, files, clock, QColor(16, 185, 129));
    FakeSessionPort session;
    DarkDesktop desktop;
    AppearanceModel appearance(std::make_shared<UserDefaults>(dir.file("v.ini")), desktop);
    RootViewModel root(session, services.store, *services.account,
                       LaunchArguments::parse({"p", "-autoHost", "studio.local"}), services.startPolling);
    DeckParts deckParts(dir.file("deck.ini"), false);
    PairingViewModel pairing(services.api, *services.account, root);
    SignInViewModel signIn(services.api, *services.account, root);
    PanelParts quib;
    QQmlApplicationEngine engine;
    QQuickWindow* window =
        loadMainWindow(engine, {root, model, appearance, pairing, signIn, deckParts.deck, quib.panel});
    ASSERT_TRUE(window);
    window->resize(880, 600);
    window->show();
    settle(window);

    // The deck's header, the window's buttons at its end.
    expectLaidOutApart(window, {"deckMark", "deckWordmark", "appearanceToggle", "encryptedBadge", "accountChip",
                                "pairButton", "windowMinimize", "windowMaximize", "windowClose"});
    // The pairing screen's header and the window's buttons beside it.
    root.showPairing();
    settle(window);
    expectLaidOutApart(window, {"pairingBack", "pairingTitle", "pairingWindowButtons"});
    root.cancelPairing();

    // The session's top row, a Windows machine's wheel and three displays, one with a long name.
    client.startDemo();
    model.setDemo(true);
    model.setWindowOpen(true);
    session.play(PhaseKind::connected);
    settle(window);
    ASSERT_EQ(root.route(), RootViewModel::Route::Session);
    model.hud()->interact();
    expectLaidOutApart(window, {"pointerModeChip", "sessionName", "assistantChip", "audioChip", "helpChip",
                                "fullScreenChip", "exitChip", "sessionWindowButtons"});
    client.setTargetKind(QStringLiteral("windows"));
    model.hud()->setWheelOpen(true);
    settle(window, 900);
    std::vector<const char*> wheel;
    std::vector<QByteArray> names;
    for (const auto& e : model.wheel()->entries())
        names.push_back(("wheelAction-" + e.label).toUtf8());
    for (const QByteArray& n : names)
        wheel.push_back(n.constData());
    wheel.push_back("statusPill");
    expectLaidOutApart(window, wheel);
    const QList<QQuickItem*> labels = itemsNamed(window->contentItem(), "wheelLabel");
    ASSERT_EQ(labels.size(), static_cast<int>(names.size()));
    for (QQuickItem* label : labels) {
        EXPECT_FALSE(label->property("truncated").toBool()) << label->property("text").toString().toStdString();
        EXPECT_LE(label->property("lineCount").toInt(), 2);
    }
    model.hud()->setWheelOpen(false);

    std::vector<wex::DisplayInfo> screens(3);
    screens[0] = {0, 2560, 1440, 0, 0, {}, "Studio Display"};
    screens[1] = {1, 1920, 1080, 2560, 0, {}, "DELL U2419H"};
    screens[2] = {2, 1280, 800, -1280, 0, {}, "Built-in Retina Display of the second laptop"};
    WEXClientTestAccess::setDisplays(client, screens, 1);
    model.hud()->setShowMonitors(true);
    settle(window, 700);
    expectLaidOutApart(window, {"displayPicker"});
    QQuickItem* picker = dovrel::test::findItem(window->contentItem(), "displayPicker");
    const QList<QQuickItem*> tiles = itemsNamed(picker, "displayName");
    ASSERT_EQ(tiles.size(), 3);
    for (QQuickItem* name : tiles)
        EXPECT_LE(name->property("contentWidth").toDouble(), name->width() + 0.5) << "a name runs past its tile";
    EXPECT_TRUE(tiles[2]->property("truncated").toBool()) << "the long name ends in an ellipsis";
    model.hud()->setShowMonitors(false);

    // At rest the top row and the pill are gone from the picture.
    QTest::mouseMove(window, QPoint(300, 2));
    clock.advance(SessionHud::dimAfter);
    settle(window, 900);
    for (const char* name : {"topChips", "statusPill"})
        EXPECT_FALSE(dovrel::test::findItem(window->contentItem(), name)->isVisible()) << name;

    // In full screen there is no title area to move or resize the window by.
    window->showFullScreen();
    settle(window);
    EXPECT_FALSE(dovrel::test::findItem(window->contentItem(), "sessionWindowButtons")->isVisible());
    EXPECT_FALSE(dovrel::test::findItem(window->contentItem(), "resizeRight")->isVisible());
    window->showNormal();
    settle(window);
    EXPECT_TRUE(dovrel::test::findItem(window->contentItem(), "resizeRight")->isVisible());
}
