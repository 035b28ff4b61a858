// The session window's model over a real (undialled) client and remote input into a fake channel,
// and the real QML driven offscreen: the wheel's commands by machine kind, leaving the window, the
// chips, wheel, picker, guide and writing assistant, the idle dimming and the exit.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <QDir>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "../../support/FakeScheduler.h"
#include "../../support/QuickItems.h"
#include "../../support/Settling.h"
#include "../../support/Unseen.h"
#include "../WEXClientTestAccess.h"
#include "../client/InputChannelFake.h"
#include "../ui/QuibPanelFakes.h"
#include "MainWindow.h"
#include "ViewTestSupport.h"
#include "controller/platform/UserDefaults.h"
#include "controller/ui/look/AppearanceModel.h"
#include "controller/ui/look/SymbolSet.h"
#include "controller/ui/root/RootViewModel.h"
#include "controller/ui/session/SessionViewModel.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using namespace std::chrono_literals;

namespace {

// Runs the window's frames (its animations advance with them) until nothing in it moves.
::testing::AssertionResult settles(QQuickWindow* window) {
    const QStringList moving = dovrel::test::waitSettled(*window);
    if (moving.isEmpty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "still moving: " << moving.join(", ").toStdString();
}

// Runs the window until `done`, for 10 s at most.
template <typename F> bool settleUntil(QQuickWindow* window, F&& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (window) window->grabWindow();
    }
}

struct SessionWindowTest : ::testing::Test {
    dovrel::test::TempDir dir;
    dovrel::test::FakeScheduler clock;
    InputChannelFake channel;
    RootServices services;
    std::unique_ptr<WEXClient> client;
    std::unique_ptr<RemoteInput> input;
    std::unique_ptr<FileTransfers> files;
    std::unique_ptr<SessionViewModel> model;

    void SetUp() override {
        viewApp();
        ClientConfig config;
        config.settingsPath = dir.file("c.ini");
        config.secrets = std::make_shared<FileSecretStore>(dir.file("secrets"));
        config.videoPort = 0;
        client = std::make_unique<WEXClient>(std::move(config), services.account);
        input = std::make_unique<RemoteInput>(channel, clock);
        files = std::make_unique<FileTransfers>(*client, *client, clock);
        model = std::make_unique<SessionViewModel>(*client, *input, *files, clock, QColor(16, 185, 129));
    }

    int rowOf(const QString& label) const {
        const auto& entries = model->wheel()->entries();
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].label == label) return static_cast<int>(i);
        ADD_FAILURE() << "no wheel action " << label.toStdString();
        return -1;
    }
    // The key presses sent so far, as (HID usage, modifiers).
    std::vector<std::pair<uint32_t, uint16_t>> presses() const {
        std::vector<std::pair<uint32_t, uint16_t>> out;
        for (const auto& e : channel.events())
            if (const auto* key = e.event.get<wex::KeyEvent>(); key && key->state)
                out.emplace_back(key->usage & 0xffff, key->modifiers);
        return out;
    }
};

} // namespace

TEST_F(SessionWindowTest, TheWheelSendsTheShortcutsOfTheMachinesKind) {
    EXPECT_EQ(model->wheel()->entries()[0].label, "Overview") << "no Mac words before the kind is known";
    client->setTargetKind("mac");
    model->hud()->setWheelOpen(true);
    model->runWheelAction(rowOf("Mission"));
    EXPECT_FALSE(model->hud()->wheelOpen());
    model->runWheelAction(rowOf("Spotlight"));
    model->runWheelAction(rowOf("Desktop"));
    EXPECT_EQ(presses(), (std::vector<std::pair<uint32_t, uint16_t>>{{82, 0x02}, {44, 0x08}, {68, 0}}));

    client->setTargetKind("windows");
    EXPECT_EQ(model->wheel()->rowCount(), 11) << "Ctrl+Alt+Del joins";
    channel.batches.clear();
    model->runWheelAction(rowOf("Task View"));
    model->runWheelAction(rowOf("Search"));
    model->runWheelAction(rowOf("Desktop"));
    EXPECT_EQ(presses(), (std::vector<std::pair<uint32_t, uint16_t>>{{43, 0x08}, {22, 0x08}, {7, 0x08}}));

    model->runWheelAction(rowOf("Rest"));
    EXPECT_TRUE(model->notices()->text().startsWith("Screen off."));
    model->runWheelAction(rowOf("Displays"));
    EXPECT_TRUE(model->hud()->showMonitors());
    std::vector<QUrl> choosers;
    QObject::connect(model.get(), &SessionViewModel::fileChooserRequested,
                     [&](const QUrl& folder) { choosers.push_back(folder); });
    model->runWheelAction(rowOf("Send File"));
    // In the home folder first, whatever the working directory; then where the last file was chosen.
    ASSERT_EQ(choosers.size(), 1u);
    EXPECT_EQ(choosers[0], QUrl::fromLocalFile(QDir::homePath()));
    model->sendFile(QUrl::fromLocalFile("/srv/reports/march.pdf"));
    model->runWheelAction(rowOf("Send File"));
    ASSERT_EQ(choosers.size(), 2u);
    EXPECT_EQ(choosers[1], QUrl::fromLocalFile("/srv/reports/"));

    // "End" leaves the wheel as it is and asks the root to end the session.
    int exits = 0;
    QObject::connect(model.get(), &SessionViewModel::exitRequested, [&] { ++exits; });
    model->hud()->setWheelOpen(true);
    model->runWheelAction(model->wheel()->rowCount() - 1);
    EXPECT_EQ(exits, 1);
    EXPECT_TRUE(model->hud()->wheelOpen());
}

TEST_F(SessionWindowTest, LeavingTheWindowLetsGoOfWhatTheSessionHeld) {
    int left = 0;
    QObject::connect(model.get(), &SessionViewModel::windowLeft, [&] { ++left; });
    model->setWindowOpen(true);
    input->setModifiers(RemoteInput::shift | RemoteInput::control);
    model->hud()->setWheelOpen(true);
    model->runWheelAction(rowOf("Rest"));
    ASSERT_TRUE(model->notices()->shown());

    model->setWindowOpen(false);
    EXPECT_EQ(left, 1);
    EXPECT_EQ(input->heldModifiers(), 0) << "held modifiers are released on the remote machine";
    const auto events = channel.events();
    ASSERT_FALSE(events.empty());
    const auto* last = events.back().event.get<wex::KeyEvent>();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->state, 0);
    EXPECT_FALSE(model->notices()->shown());
    EXPECT_FALSE(model->hud()->wheelOpen());
    // Nothing the window armed fires later.
    const auto sent = channel.batches.size();
    clock.advance(30s);
    EXPECT_EQ(channel.batches.size(), sent);
    EXPECT_TRUE(model->hud()->bright());
}

TEST_F(SessionWindowTest, EachSessionWindowStartsInHybridModeWithoutAMarker) {
    model->setWindowOpen(true);
    model->interaction()->setMode("direct");
    model->pointerAt({40, 50});
    model->clickAt({40, 50});
    model->setWindowOpen(false);
    model->setWindowOpen(true);
    EXPECT_EQ(model->interaction()->mode(), "hybrid");
    EXPECT_FALSE(model->interaction()->showCursorMarker());
    EXPECT_FALSE(model->interaction()->hasRipple());
}

namespace {

QPointF centreOf(QQuickItem* item) { return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)); }

// Each item named is shown whole inside the window and over none of the others.
void expectApart(QQuickWindow* window, const std::vector<const char*>& names) {
    std::vector<QQuickItem*> items;
    for (const char* name : names) {
        items.push_back(dovrel::test::findItem(window->contentItem(), QString::fromLatin1(name)));
        ASSERT_TRUE(items.back()) << name;
    }
    for (QQuickItem* item : items) {
        std::vector<QQuickItem*> others;
        for (QQuickItem* other : items)
            if (other != item) others.push_back(other);
        for (const std::string& why : dovrel::test::unseen(item, others, window->contentItem()))
            ADD_FAILURE() << why;
    }
}

// The title area's controls, the window's own buttons among them, are one height on one line.
void expectOneLine(QQuickWindow* window, const std::vector<const char*>& names) {
    std::optional<QRectF> first;
    for (const char* name : names) {
        QQuickItem* item = dovrel::test::findItem(window->contentItem(), QString::fromLatin1(name));
        ASSERT_TRUE(item) << name;
        const QRectF r = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
        if (!first) first = r;
        EXPECT_NEAR(r.height(), first->height(), 0.5) << name << " is not as tall as " << names.front();
        EXPECT_NEAR(r.center().y(), first->center().y(), 0.5) << name << " stands off the line of " << names.front();
    }
}

// The ink of a window button's glyph, drawn large: its middle is the button's.
void expectCentredGlyph(const char* symbol) {
    QSvgRenderer svg(SymbolSet::resourcePath(QString::fromLatin1(symbol)));
    ASSERT_TRUE(svg.isValid()) << symbol;
    QImage glyph(96, 96, QImage::Format_ARGB32_Premultiplied);
    glyph.fill(Qt::transparent);
    QPainter painter(&glyph);
    svg.render(&painter);
    painter.end();
    int top = glyph.height(), bottom = -1, left = glyph.width(), right = -1;
    for (int y = 0; y < glyph.height(); ++y)
        for (int x = 0; x < glyph.width(); ++x)
            if (qAlpha(glyph.pixel(x, y)) > 127) {
                top = std::min(top, y), bottom = std::max(bottom, y);
                left = std::min(left, x), right = std::max(right, x);
            }
    EXPECT_NEAR((top + bottom) / 2.0, (glyph.height() - 1) / 2.0, 2) << symbol << " sits off the middle";
    EXPECT_NEAR((left + right) / 2.0, (glyph.width() - 1) / 2.0, 2) << symbol << " sits off the middle";
}

} // namespace

TEST(TitleAreaLayout, TheWindowButtonsGlyphsStandInTheirMiddle) {
    viewApp();
    for (const char* symbol : {"window.minimize", "window.maximize", "window.restore", "window.close"})
        expectCentredGlyph(symbol);
}

namespace {

// The program's window over the fixture's session model, its root on a fake session client launched
// with `args`; the session window opens and closes as the root routes to it and away.
struct RealWindow {
    RealWindow(SessionWindowTest& t, const QStringList& args)
        : defaults(std::make_shared<UserDefaults>(t.dir.file("v.ini"))), appearance(defaults, desktop),
          root(session, t.services.store, *t.services.account, LaunchArguments::parse(args), t.services.startPolling),
          deckParts(root, t.dir.file("deck.ini"), false), pairing(t.services.api, *t.services.account, root),
          signIn(t.services.api, *t.services.account, root) {
        SessionViewModel* model = t.model.get();
        QObject::connect(&root, &RootViewModel::routeChanged, model,
                         [this, model] { model->setWindowOpen(root.route() == RootViewModel::Route::Session); });
        QObject::connect(model, &SessionViewModel::exitRequested, &root, &RootViewModel::endSession);
        window = loadMainWindow(engine, {root, *model, appearance, pairing, signIn, deckParts.deck, quib.panel});
    }

    FakeSessionPort session;
    std::shared_ptr<UserDefaults> defaults;
    DarkDesktop desktop;
    AppearanceModel appearance;
    RootViewModel root;
    DeckParts deckParts;
    PairingViewModel pairing;
    SignInViewModel signIn;
    PanelParts quib;
    QQmlApplicationEngine engine;
    QQuickWindow* window = nullptr;
};

} // namespace

TEST_F(SessionWindowTest, TheRealWindowOpensTheWheelPickerGuideAndAssistantDimsAndExits) {
    RealWindow real(*this, {"p", "-autoHost", "h"});
    FakeSessionPort& session = real.session;
    RootViewModel& root = real.root;
    PanelParts& quib = real.quib;
    QQmlApplicationEngine& engine = real.engine;
    QQuickWindow* window = real.window;
    ASSERT_TRUE(window);
    // At the window's smallest, the deck's header with the window's buttons, then the session's top row
    // with them, stand whole and apart.
    window->resize(880, 600);
    window->show();
    EXPECT_TRUE(settles(window));
    expectApart(window, {"deckMark", "deckWordmark", "appearanceToggle", "encryptedBadge", "accountChip", "pairButton",
                         "windowMinimize", "windowMaximize", "windowClose"});
    expectOneLine(window, {"appearanceToggle", "encryptedBadge", "accountChip", "pairButton", "windowMinimize",
                           "windowMaximize", "windowClose"});
    // Once the deck has faded out and gone: its own window buttons would be found first.
    root.showPairing();
    EXPECT_TRUE(settles(window));
    expectOneLine(window, {"pairingBack", "windowMinimize", "windowMaximize", "windowClose"});
    root.cancelPairing();
    EXPECT_TRUE(settles(window));
    WEXClientTestAccess::setPhase(*client, Phase::of(PhaseKind::connected));
    session.play(PhaseKind::connected);
    EXPECT_TRUE(settles(window));
    ASSERT_EQ(root.route(), RootViewModel::Route::Session);
    expectApart(window, {"pointerModeChip", "sessionName", "assistantChip", "audioChip", "helpChip", "fullScreenChip",
                         "exitChip", "sessionWindowButtons"});
    expectOneLine(window, {"pointerModeChip", "sessionNameChip", "assistantChip", "audioChip", "helpChip",
                           "fullScreenChip", "exitChip", "sessionWindowButtons"});
    const auto find = [&](const char* name) {
        return dovrel::test::findItem(window->contentItem(), QString::fromUtf8(name));
    };
    const auto click = [&](const char* name) {
        QQuickItem* item = find(name);
        ASSERT_TRUE(item) << name;
        QTest::mouseClick(window, Qt::LeftButton, {}, centreOf(item).toPoint(), 20);
        EXPECT_TRUE(settles(window)) << name;
    };

    // The input item lies exactly over the fitted picture, which a windowed session fits in a band under
    // the top row: nothing of the picture lies under the chips or the window's buttons.
    QQuickItem* capture = find("inputCapture");
    QQuickItem* topRow = find("topChips");
    const double band = capture->parentItem()->property("titleRoom").toDouble();
    const double pillBand = capture->parentItem()->property("pillRoom").toDouble();
    EXPECT_GE(band, topRow->mapRectToScene(QRectF(0, 0, topRow->width(), topRow->height())).bottom());
    const QRectF picture(capture->mapToScene({0, 0}), capture->size());
    EXPECT_EQ(picture,
              fittedRect(QSizeF(window->width(), window->height() - band - pillBand), {0, 0}).translated(0, band));
    // The pill, likewise, in a band of its own under the picture, whole in the window.
    QQuickItem* statusPill = find("statusPill");
    const QRectF pillAt = statusPill->mapRectToScene(QRectF(0, 0, statusPill->width(), statusPill->height()));
    EXPECT_GE(pillAt.top(), picture.bottom()) << "the pill lies over the picture";
    EXPECT_LE(pillAt.bottom(), window->height());
    EXPECT_GE(pillAt.top(), window->height() - pillBand);

    click("statusPill");
    EXPECT_TRUE(model->hud()->wheelOpen());
    click("wheelAction-Displays");
    EXPECT_FALSE(model->hud()->wheelOpen());
    EXPECT_TRUE(model->hud()->showMonitors());
    EXPECT_TRUE(find("pickerEmpty")->isVisible()) << "no display list: one line instead of tiles";
    QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(8, window->height() - 8));
    EXPECT_TRUE(settles(window));
    EXPECT_FALSE(model->hud()->showMonitors());

    // "Send File" opens the file chooser over the window, and its cancel leaves the session as it was.
    QStringList warnings;
    QObject::connect(&engine, &QQmlEngine::warnings, [&](const QList<QQmlError>& list) {
        for (const QQmlError& e : list)
            warnings << e.toString();
    });
    // While it or the wheel stands over the picture, the pointer and keys there reach nothing of the
    // remote machine; once it is closed the keyboard is the picture's again.
    const QPoint overPicture = centreOf(capture).toPoint();
    click("statusPill");
    channel.batches.clear();
    QTest::mouseMove(window, overPicture + QPoint(-200, 40));
    EXPECT_TRUE(settles(window));
    click("wheelAction-Send File");
    QObject* chooser = window->findChild<QObject*>(QStringLiteral("fileChooser"));
    ASSERT_TRUE(chooser);
    EXPECT_TRUE(settleUntil(window, [&] { return chooser->property("visible").toBool(); }))
        << warnings.join(QLatin1Char('\n')).toStdString();
    for (const QPoint step : {QPoint(-120, 30), QPoint(0, 0), QPoint(150, -60)})
        QTest::mouseMove(window, overPicture + step);
    QTest::keyClick(window, Qt::Key_X);
    EXPECT_TRUE(settles(window));
    EXPECT_TRUE(channel.events().empty()) << channel.events().size() << " events reached the remote machine";
    QMetaObject::invokeMethod(chooser, "reject");
    EXPECT_TRUE(settleUntil(window, [&] { return !chooser->property("visible").toBool(); }));
    EXPECT_TRUE(settleUntil(window, [&] { return capture->hasActiveFocus(); }));
    QTest::keyClick(window, Qt::Key_X);
    EXPECT_FALSE(channel.events().empty());

    click("helpChip");
    EXPECT_TRUE(model->hud()->showGuide());
    click("guideClose");
    EXPECT_FALSE(model->hud()->showGuide());

    // The assistant chip opens the panel; the panel's own close button hides it again.
    QQuickItem* panel = find("assistantPanel");
    ASSERT_TRUE(panel);
    EXPECT_FALSE(panel->isVisible());
    click("assistantChip");
    EXPECT_TRUE(quib.panel.isOpen());
    EXPECT_TRUE(model->hud()->assistantOpen());
    EXPECT_TRUE(settleUntil(window, [&] { return panel->isVisible() && panel->opacity() == 1; }));
    // Shown again without the cloud allowed, the header gives the whole reason.
    click("quibClose");
    quib.assistant->consent = false;
    quib.assistant->source = AssistantSource::unavailable;
    quib.assistant->reason = "Quib writes in the cloud: your instruction and the text you give it go to the Quib "
                             "service. Allow that below to use it.";
    click("assistantChip");
    QQuickItem* note = find("quibNote");
    ASSERT_TRUE(note);
    EXPECT_TRUE(settleUntil(window, [&] { return note->property("text").toString() == quib.assistant->reason; }));
    EXPECT_FALSE(note->property("truncated").toBool());
    EXPECT_GT(note->property("lineCount").toInt(), 1);
    click("quibClose");
    EXPECT_FALSE(quib.panel.isOpen());
    EXPECT_FALSE(model->hud()->assistantOpen());
    EXPECT_TRUE(settleUntil(window, [&] { return !panel->isVisible(); }));

    // Idle: the controls rest 3.2 s after the last interaction. In the window's own band above the
    // picture the top row stays, as a title bar does, covering nothing; the pill leaves the picture.
    QQuickItem* chips = find("topChips");
    QQuickItem* pill = find("statusPill");
    QTest::mouseMove(window, QPoint(300, 4));
    EXPECT_TRUE(settles(window));
    clock.advance(3200ms);
    EXPECT_FALSE(model->hud()->bright());
    EXPECT_TRUE(settleUntil(window, [&] { return !pill->isVisible(); }));
    EXPECT_FALSE(pill->isEnabled());
    EXPECT_TRUE(chips->isVisible() && chips->isEnabled() && chips->opacity() == 1);
    // Over the picture, in full screen, the top row leaves too, and a click where it stood is the remote
    // machine's; the next move over the picture brings the controls back.
    window->showFullScreen();
    EXPECT_TRUE(settleUntil(window, [&] { return !chips->isVisible(); })) << chips->opacity();
    EXPECT_FALSE(chips->isEnabled());
    EXPECT_EQ(capture->parentItem()->property("pillRoom").toDouble(), 0) << "in full screen the pill floats";
    QTest::mouseMove(window, find("rootView")->property("picture").toRectF().center().toPoint());
    EXPECT_TRUE(settleUntil(window, [&] { return chips->isVisible() && chips->opacity() == 1 && pill->isVisible(); }));
    window->showNormal();
    EXPECT_TRUE(settleUntil(window, [&] { return find("sessionWindowButtons")->isVisible(); }));

    // With a size of its own the window resizes only beside the picture, never over it: the top edge
    // lies in the title band.
    const QRectF fit = find("rootView")->property("picture").toRectF();
    ASSERT_FALSE(fit.isEmpty());
    EXPECT_TRUE(find("resizeTop")->isVisible());
    for (const char* edge : {"resizeTop", "resizeBottom", "resizeRight", "resizeLeft", "resizeBottomRight"}) {
        QQuickItem* e = find(edge);
        EXPECT_FALSE(e->isVisible() && e->mapRectToScene(e->boundingRect()).intersects(fit)) << edge;
    }
    // In full screen there is no title area to move or resize the window by.
    window->showFullScreen();
    EXPECT_TRUE(settleUntil(window, [&] { return !find("sessionWindowButtons")->isVisible(); }));
    EXPECT_FALSE(find("resizeRight")->isVisible());
    window->showNormal();
    // Leaving full screen gives back the state before it: a maximised window is maximised again.
    window->showMaximized();
    ASSERT_TRUE(settleUntil(window, [&] { return window->visibility() == QWindow::Maximized; }));
    for (const auto state : {QWindow::FullScreen, QWindow::Maximized}) {
        click("fullScreenChip");
        EXPECT_TRUE(settleUntil(window, [&] { return window->visibility() == state; })) << window->visibility();
    }
    window->showNormal();

    // Refused, the controls are the way out and stay; no marker or ripple points into the missing picture.
    WEXClientTestAccess::setHasFirstFrame(*client, true);
    QTest::mouseMove(window, centreOf(capture).toPoint());
    EXPECT_TRUE(settleUntil(window, [&] { return find("cursorMarker")->opacity() == 1; }));
    WEXClientTestAccess::setPhase(*client, Phase::rejected("That computer is already in use by another device."));
    QTest::mouseClick(window, Qt::LeftButton, {}, centreOf(capture).toPoint());
    clock.advance(30s);
    EXPECT_TRUE(settles(window));
    for (const char* name : {"topChips", "sessionWindowButtons", "statusPill", "loadingOverlay"})
        EXPECT_EQ(find(name)->opacity(), 1) << name;
    EXPECT_EQ(find("cursorMarker")->opacity(), 0);
    EXPECT_FALSE(find("touchRipple")->isVisible());
    click("exitChip");
    EXPECT_EQ(session.disconnects, 1);
    EXPECT_EQ(root.route(), RootViewModel::Route::Deck);
    EXPECT_FALSE(model->windowOpen());
}

TEST_F(SessionWindowTest, ARefusalBeforeTheSessionStoodComesToRestAndEndsOnThePairingScreenAsTyped) {
    RealWindow real(*this, {"p"});
    FakeSessionPort& session = real.session;
    RootViewModel& root = real.root;
    PairingViewModel& pairing = real.pairing;
    QQuickWindow* window = real.window;
    ASSERT_TRUE(window);
    window->show();
    const auto find = [&](const char* name) {
        return dovrel::test::findItem(window->contentItem(), QString::fromUtf8(name));
    };
    root.showPairing();
    ASSERT_TRUE(dovrel::test::waitSettled(*window).isEmpty());
    pairing.setManualName("Lab");
    pairing.setManualAddress("10.0.0.9");
    pairing.editManualCode("000000");
    pairing.connectManual();
    ASSERT_EQ(root.route(), RootViewModel::Route::Session);
    ASSERT_TRUE(settleUntil(window, [&] { return find("loadingGauge") != nullptr; }));
    QObject* sweep = find("loadingGauge")->findChild<QObject*>("shimmerSweep");
    ASSERT_TRUE(sweep);
    EXPECT_TRUE(settleUntil(window, [&] { return sweep->property("running").toBool(); })) << "reaching, it sweeps";
    // Nothing that acts on a session is offered before one stood.
    for (const char* name : {"audioChip", "fullScreenChip", "assistantChip", "statusPill"})
        EXPECT_FALSE(find(name)->isVisible()) << name;

    const QString wrong = QStringLiteral("Wrong pairing code. Check the six digits the other computer shows.");
    WEXClientTestAccess::setPhase(*client, Phase::rejected(wrong.toStdString(), RefusedPart::code));
    session.refuse(wrong, RefusedPart::code);
    const QStringList running = dovrel::test::waitAtRest(*window);
    EXPECT_TRUE(running.isEmpty()) << "the refusal keeps drawing: " << running.join(", ").toStdString();

    QTest::mouseClick(window, Qt::LeftButton, {}, centreOf(find("exitChip")).toPoint());
    ASSERT_EQ(root.route(), RootViewModel::Route::Pairing);
    ASSERT_TRUE(dovrel::test::waitSettled(*window).isEmpty());
    EXPECT_EQ(find("manualAddress")->property("text").toString(), "10.0.0.9");
    EXPECT_EQ(find("manualName")->property("text").toString(), "Lab");
    EXPECT_EQ(find("manualCode")->property("text").toString(), "000000");
    EXPECT_TRUE(find("manualCode")->property("invalid").toBool()) << "the refused code is marked";
    EXPECT_FALSE(find("manualAddress")->property("invalid").toBool());
    EXPECT_EQ(find("manualCodeError")->property("text").toString(), wrong);
}

TEST_F(SessionWindowTest, AStandingSessionWithoutAPictureSaysWhereItShouldArriveAndAFileSentSaysItArrived) {
    client->startDemo(); // a session that stands, with no picture yet
    ASSERT_EQ(client->phaseKind(), PhaseKind::connected);
    clock.advance(SessionViewModel::pictureLateAfter - std::chrono::milliseconds(100));
    EXPECT_TRUE(model->loadingError().isEmpty());
    clock.advance(std::chrono::milliseconds(100));
    EXPECT_EQ(model->loadingError(), pictureNotArrivingText(client->videoPort()));
    EXPECT_TRUE(pictureNotArrivingText(47811).contains("UDP port 47811")) << "on the local network it names the port";
    client->disconnectSession();
    ASSERT_TRUE(settleUntil(nullptr, [&] { return client->phaseKind() == PhaseKind::disconnected; }));
    EXPECT_TRUE(model->loadingError().isEmpty()) << "a later session starts without it";

    emit client->fileSent("notes.txt");
    EXPECT_EQ(model->notices()->text(), "“notes.txt” arrived on the other computer, in its Downloads folder.");
}
