// Renders the controller's screens as a person would see them, light and dark, at the window's full
// size and at its 880 x 600 minimum, to PNGs in the folder given as the first argument
// (scripts/screens.sh): the deck in its states, the alerts, the sign-in sheet, the pairing screen in
// each of its states, the session window with its picture, controls, notices, wheel, picker, guide and
// assistant, every step of the loading overlay, the status pill's states, the brand's marks and the
// symbol set. Fakes stand in for the network; nothing is dialled. Before each picture the pointer
// rests where nothing reacts to it, so that a tip or a hover shows only where a picture asks for it.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <tuple>

#include <QDir>
#include <QPainter>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/QQmlExtensionPlugin>

#include "../../support/Settling.h"
#include "../../support/TempHome.h"
#include "../WEXClientTestAccess.h"
#include "../media/YuvPicture.h"
#include "../ui/QuibPanelFakes.h"
#include "MainWindow.h"
#include "ViewTestSupport.h"
#include "controller/client/input/RemoteInput.h"
#include "controller/client/session/ClientTexts.h"
#include "controller/client/session/InputBinding.h"
#include "controller/platform/FileSecretStore.h"
#include "controller/services/DeviceStore.h"
#include "controller/ui/look/AppearanceModel.h"
#include "controller/ui/look/SymbolSet.h"
#include "controller/ui/pairing/PairingViewModel.h"
#include "controller/ui/root/RootViewModel.h"
#include "controller/ui/session/SessionViewModel.h"
#include "controller/ui/session/VideoSurfaceItem.h"
#include "controller/ui/signin/SignInViewModel.h"
#include "runtime/Scheduler.h"

Q_IMPORT_QML_PLUGIN(Dovrel_ControllerPlugin)
Q_IMPORT_QML_PLUGIN(Dovrel_LookPlugin)

using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {

void settle(int ms = 700) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A stand-in remote desktop: a wallpaper gradient with two windows on it.
VideoPicture desktopPicture(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32);
    QPainter p(&image);
    QLinearGradient sky(0, 0, w, h);
    sky.setColorAt(0, QColor(0x2b, 0x4c, 0x7e));
    sky.setColorAt(1, QColor(0x56, 0x7e, 0xbf));
    p.fillRect(image.rect(), sky);
    p.fillRect(QRect(w / 10, h / 8, w / 2, h / 2), QColor(0xf4, 0xf4, 0xf2));
    p.fillRect(QRect(w / 10, h / 8, w / 2, 28), QColor(0xd8, 0xd8, 0xd6));
    p.fillRect(QRect(w / 2, h / 2, w / 3, h / 3), QColor(0x1d, 0x1f, 0x24));
    p.end();
    // In the 4:2:0 YUV a decoder gives, as the surface takes it.
    return test::yuvPicture(w, h, [&](int x, int y) { return image.pixel(x, y) & 0xFFFFFFu; });
}

// Every item of the window's scene named `name`, in the order of the tree.
QList<QQuickItem*> itemsNamed(QQuickWindow& window, const QString& name) {
    QList<QQuickItem*> found;
    std::function<void(QQuickItem*)> walk = [&](QQuickItem* at) {
        for (QQuickItem* child : at->childItems()) {
            if (child->objectName() == name) found << child;
            walk(child);
        }
    };
    walk(window.contentItem());
    return found;
}

QPoint centreOf(QQuickItem* item) { return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint(); }

// Pictures of one window in one appearance at one size: "<name>-<scheme><size>.png".
struct Camera {
    QQuickWindow& window;
    QDir out;
    QString suffix; // "-dark", "-light-880", …
    bool ok = true;
    // Run before each picture (the session's pictures: the user has just acted, the controls are bright).
    std::function<void()> before;

    // The pointer where nothing reacts to it: the middle of the top edge, over no control.
    void restPointer() { QTest::mouseMove(&window, QPoint(window.width() / 2, 2)); }

    // Saves the window once what it shows has arrived: after `ms` of frames at least (what a timer of
    // the models or a tip's delay brings), then once no transition or animation in it is on its way.
    // A picture of a scene that does not settle is not taken, and the run fails: it would show a state
    // between two that no one looks at. `pointer` false leaves the pointer where the caller put it (a
    // hover, a menu).
    void shoot(const QString& name, int ms = 300, bool pointer = true) {
        if (pointer) restPointer();
        if (before) before();
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            window.grabWindow();
        }
        const QString path = out.filePath(name + suffix + ".png");
        if (const QStringList moving = dovrel::test::waitSettled(window); !moving.isEmpty()) {
            std::fprintf(stderr, "not settled, not drawn: %s; still moving: %s\n", qPrintable(path),
                         qPrintable(moving.join(QStringLiteral(", "))));
            ok = false;
            return;
        }
        const bool saved = window.grabWindow().save(path);
        std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
        ok &= saved;
    }

    // An item made from `qml` (or `component`) over the whole window while `shots` runs.
    void over(QQmlComponent& component, const QVariantMap& properties, const std::function<void(QQuickItem&)>& shots) {
        std::unique_ptr<QObject> made(component.createWithInitialProperties(properties));
        auto* item = qobject_cast<QQuickItem*>(made.get());
        if (!item) {
            std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
            ok = false;
            return;
        }
        item->setParentItem(window.contentItem());
        item->setSize(window.size());
        item->setZ(20);
        shots(*item);
    }
};

// The deck alone over the window: the demo machines (one card flipped, then one frosted), and the same
// machines outside demo mode with their connect prompts.
void shootDemoDecks(QQmlEngine& engine, Camera& camera, dovrel::test::TempDir& dir, RootViewModel& root,
                    AppearanceModel& appearance, const QString& tag) {
    QQmlComponent deckScreen(&engine, QUrl(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/DeckScreen.qml")));
    QQmlComponent backdrop(&engine, QUrl(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/ThemeBackground.qml")));
    camera.over(backdrop, {}, [&](QQuickItem&) {
        for (const bool demo : {true, false}) {
            DeckParts parts(root, dir.file(tag.toStdString() + (demo ? "-demo.ini" : "-prompts.ini")), demo);
            if (!demo) parts.store.setDevices(DeviceStore(parts.defaults, true).devices());
            parts.usage.addReceived(1234LL * 1048576);
            camera.over(deckScreen,
                        {{"appearance", QVariant::fromValue(&appearance)}, {"deck", QVariant::fromValue(&parts.deck)}},
                        [&](QQuickItem&) {
                            if (!demo) {
                                camera.shoot("deck-prompts");
                                return;
                            }
                            camera.shoot("deck-demo");
                            // The footer's tip, where the pointer rests on the count it explains.
                            const QList<QQuickItem*> footers = itemsNamed(camera.window, "usageFooter");
                            if (!footers.isEmpty()) {
                                QQuickItem* footer = footers.last();
                                QTest::mouseMove(&camera.window,
                                                 footer->mapToScene(QPointF(60, footer->height() / 2)).toPoint());
                                camera.shoot("deck-usage-tip", 900, false);
                            }
                            // The second card turned over, as a long press leaves it.
                            const QList<QQuickItem*> gestures = itemsNamed(camera.window, "cardMouse");
                            if (gestures.size() > 1) {
                                QObject* g = gestures[1]->parentItem()->findChild<QObject*>(
                                    QStringLiteral("flipGesture"), Qt::FindDirectChildrenOnly);
                                if (g) {
                                    QMetaObject::invokeMethod(g, "press", Q_ARG(double, 1), Q_ARG(double, 1));
                                    QMetaObject::invokeMethod(g, "held");
                                    QMetaObject::invokeMethod(g, "release");
                                }
                            }
                            settle(800);
                            camera.shoot("deck-flipped");
                            parts.deck.toggleFrost(0);
                            camera.shoot("deck-frosted");
                        });
        }
    });
}

// The loading overlay alone at each of its steps, with the words the session window's rule gives.
void shootLoadingSteps(QQmlEngine& engine, Camera& camera) {
    QQmlComponent overlay(&engine, QUrl(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/DovrelLoadingView.qml")));
    struct Step {
        const char* name;
        LoadingState state;
    };
    const QString refusal =
        QObject::tr("Wrong pairing code. Check the six digits the other computer shows and try again.");
    LoadingState slowLink = loadingStateFor(PhaseKind::connected, {}, false, "Studio");
    slowLink.errorText = linkTooSlowText();
    for (const Step& s : {Step{"loading-starting", loadingStateFor(PhaseKind::disconnected, {}, false, "Studio")},
                          Step{"loading-reaching", loadingStateFor(PhaseKind::connecting, {}, false, "Studio")},
                          Step{"loading-pairing", loadingStateFor(PhaseKind::needsCode, {}, false, "Studio")},
                          Step{"loading-securing", loadingStateFor(PhaseKind::handshaking, {}, false, "Studio")},
                          Step{"loading-first-frame", loadingStateFor(PhaseKind::connected, {}, false, "Studio")},
                          Step{"loading-link-too-slow", slowLink},
                          Step{"loading-reconnecting", loadingStateFor(PhaseKind::connected, {}, true, "Studio")},
                          Step{"loading-refused", loadingStateFor(PhaseKind::rejected, refusal, false, "Studio")}})
        camera.over(overlay,
                    {{"progress", s.state.progress}, {"message", s.state.message}, {"errorText", s.state.errorText}},
                    [&](QQuickItem&) { camera.shoot(QString::fromLatin1(s.name)); });
}

// The brand's marks, the symbol set and the status pill's states, each on the window's backdrop.
void shootSheets(QQmlEngine& engine, Camera& camera) {
    QQmlComponent marks(&engine);
    marks.setData("import QtQuick\nimport Dovrel.Controller\n"
                  "ThemeBackground { Row { anchors.centerIn: parent; spacing: 36\n"
                  "  DovrelMark { width: 128; height: 128; anchors.verticalCenter: parent.verticalCenter }\n"
                  "  DovrelMark { width: 48; height: 48; anchors.verticalCenter: parent.verticalCenter }\n"
                  "  DovrelMark { width: 18; height: 18; anchors.verticalCenter: parent.verticalCenter }\n"
                  "  DovrelWordmark { height: 48; anchors.verticalCenter: parent.verticalCenter } } }",
                  QUrl(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/Marks.qml")));
    camera.over(marks, {}, [&](QQuickItem&) { camera.shoot("marks"); });

    // Every symbol at the sizes the views use, with its name, in the text colour and the accent.
    QQmlComponent symbols(&engine);
    symbols.setData(
        "import QtQuick\nimport Dovrel.Controller\n"
        "ThemeBackground { required property var names\n"
        "  Grid { anchors.centerIn: parent; columns: 8; columnSpacing: 10; rowSpacing: 8\n"
        "    Repeater { model: parent.parent.names\n"
        "      Column { required property string modelData; required property int index\n"
        "        width: 120; spacing: 4\n"
        "        Row { anchors.horizontalCenter: parent.horizontalCenter; spacing: 8\n"
        "          Symbol { name: parent.parent.modelData; size: 28; color: Theme.text }\n"
        "          Symbol { name: parent.parent.modelData; size: 15; color: Theme.accentInk;\n"
        "                   anchors.verticalCenter: parent.verticalCenter } }\n"
        "        Text { width: parent.width; horizontalAlignment: Text.AlignHCenter; elide: Text.ElideMiddle\n"
        "               text: parent.modelData; font.pixelSize: 9; color: Theme.textDim } } } } }",
        QUrl(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/Symbols.qml")));
    camera.over(symbols, {{"names", SymbolSet::names()}}, [&](QQuickItem&) { camera.shoot("symbols"); });

    // The pill: dialling, refused, each latency band, reconnecting, and opened with the frame rate; each
    // with the word the session's model gives that state.
    const std::tuple<PhaseKind, bool, const char*> pillStates[] = {
        {PhaseKind::connecting, false, ""},
        {PhaseKind::rejected, false, ""},
        {PhaseKind::connected, false, "connected: true; latencyMs: 21; latencyBand: 1"},
        {PhaseKind::connected, false, "connected: true; latencyMs: 64; latencyBand: 2"},
        {PhaseKind::connected, false, "connected: true; latencyMs: 180; latencyBand: 3"},
        {PhaseKind::connected, true, "connected: true; reconnecting: true"},
        {PhaseKind::connected, false, "connected: true; latencyMs: 21; latencyBand: 1; fps: 60; expanded: true"}};
    QString pillsQml = "import QtQuick\nimport Dovrel.Controller\nItem { DemoDesktop { anchors.fill: parent }\n"
                       "  Column { anchors.centerIn: parent; spacing: 14\n";
    for (const auto& [phase, reconnecting, rest] : pillStates)
        pillsQml +=
            QString("    StatusPillText { anchors.horizontalCenter: parent.horizontalCenter; word: \"%1\"; %2 }\n")
                .arg(pillWordFor(phase, reconnecting), QString::fromLatin1(rest));
    QQmlComponent pills(&engine);
    pills.setData((pillsQml + "} }").toUtf8(), QUrl(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/Pills.qml")));
    camera.over(pills, {}, [&](QQuickItem&) { camera.shoot("session-pill-states"); });
}

// One appearance at one window size: the whole program as a person goes through it.
bool shootWindow(const QDir& out, dovrel::test::TempDir& dir, const char* scheme, QSize size, bool sheets) {
    const QString tag = QString::fromLatin1(scheme);
    const std::string file = std::string(scheme) + std::to_string(size.width());
    auto defaults = std::make_shared<UserDefaults>(dir.file(file + ".ini"));
    defaults->setString(AppearanceModel::key, scheme);
    DarkDesktop desktop;
    AppearanceModel appearance(defaults, desktop);
    RootServices services;
    ClientConfig config;
    config.settingsPath = dir.file(file + ".ini");
    config.secrets = std::make_shared<FileSecretStore>(dir.file(file + "-secrets"));
    config.videoPort = 0;
    WEXClient client(std::move(config), services.account);
    FakeSessionPort session;
    RootViewModel root(session, services.store, *services.account,
                       LaunchArguments::parse({"p", "-autoHost", "studio.local"}), services.startPolling);
    DeckParts deckParts(root, services.store, dir.file(file + "-deck.ini"), false);
    auto input = makeRemoteInput(client, dovrel::realScheduler());
    FileTransfers files(client, client, dovrel::realScheduler());
    SessionViewModel sessionModel(client, *input, files, dovrel::realScheduler(), QColor(16, 185, 129));
    PairingViewModel pairing(services.api, *services.account, root);
    SignInViewModel signIn(services.api, *services.account, root);
    PanelParts windowPanel;

    QQmlApplicationEngine engine;
    QQuickWindow* window =
        loadMainWindow(engine, {root, sessionModel, appearance, pairing, signIn, deckParts.deck, windowPanel.panel});
    if (!window) return false;
    window->resize(size);
    // On an X server the window takes the keyboard as a desktop gives it to a window just opened, so
    // that Escape closes a menu as it does there.
    window->requestActivate();
    waitUntil([&] { return window->isActive(); }, std::chrono::seconds(2));
    Camera camera{*window, out, "-" + tag + (size.width() < 1000 ? QStringLiteral("-880") : QString()), true, {}};

    camera.shoot("deck-empty");

    // The launch's automatic dial reached a machine that does not know this one: the pairing screen
    // with the window's notice saying so.
    session.play(PhaseKind::needsCode);
    camera.shoot("pairing-launch-needs-code");
    root.dismissNotice();
    root.cancelPairing();

    // A deck with machines: awake, asleep and frosted, offline, on without DOVRELÆ; the alerts it asks.
    std::vector<Device> machines(4);
    machines[0].name = "Studio";
    machines[0].host = "192.168.1.20";
    machines[0].state = Device::State::awake;
    machines[0].cpu = {0.12, 0.18, 0.34, 0.22, 0.41, 0.3, 0.27};
    machines[0].ram = 0.61;
    machines[0].statsCurrent = true; // a session reports them
    machines[1].name = "Office tower";
    machines[1].deviceId = QString("0123456789abcdef0123456789abcdef");
    machines[1].privacyFrost = true;
    machines[2].name = "Lab laptop";
    machines[2].host = "10.0.0.7";
    machines[2].state = Device::State::offline;
    machines[3].name = "Build box";
    machines[3].kind = Device::Kind::linux;
    machines[3].host = "192.168.1.31";
    machines[3].state = Device::State::awake;
    machines[3].agentStopped = true;
    machines[3].lastSeen = "now";
    services.store.setDevices(machines);
    camera.shoot("deck");
    // The pointer on the first card lifts it; a right click opens its menu.
    if (QList<QQuickItem*> cards = itemsNamed(*window, "cardMouse"); !cards.isEmpty()) {
        QTest::mouseMove(window, centreOf(cards[0]));
        camera.shoot("deck-hover", 700, false);
        QTest::mouseClick(window, Qt::RightButton, {}, centreOf(cards[0]));
        camera.shoot("deck-menu", 700, false);
        QTest::keyClick(window, Qt::Key_Escape);
        settle(300);
    }
    // The header is the window's title area: its buttons under the pointer, held down, and with the
    // keyboard's focus.
    const auto titleButton = [&](const char* name) -> QQuickItem* {
        const QList<QQuickItem*> found = itemsNamed(*window, QString::fromLatin1(name));
        return found.isEmpty() ? nullptr : found.first();
    };
    if (QQuickItem* maximize = titleButton("windowMaximize")) {
        QTest::mouseMove(window, centreOf(maximize));
        camera.shoot("deck-title-hover", 900, false);
    }
    if (QQuickItem* close = titleButton("windowClose")) {
        QTest::mouseMove(window, centreOf(close));
        QTest::mousePress(window, Qt::LeftButton, {}, centreOf(close));
        camera.shoot("deck-title-pressed", 300, false);
        // Let go away from it: a press taken back closes nothing.
        QTest::mouseMove(window, QPoint(window->width() / 2, window->height() / 2));
        QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(window->width() / 2, window->height() / 2));
    }
    if (QQuickItem* minimize = titleButton("windowMinimize")) {
        minimize->forceActiveFocus(Qt::TabFocusReason);
        camera.shoot("deck-title-focus");
        minimize->setFocus(false);
    }

    root.unpairRequested(0);
    camera.shoot("alert-unpair");
    root.answerAlert(true);
    // The machine's agent could not be told: said once the unpair is over.
    if (!session.revokeOutcomes.empty()) session.revokeOutcomes.back()(UnpairOutcome::refused);
    camera.shoot("alert-unpair-not-told");
    root.answerAlert(true);
    services.store.setDevices(machines);
    root.renameRequested(1);
    camera.shoot("alert-rename");
    root.answerAlert(false);
    session.problem = QStringLiteral("the keyring did not answer");
    emit session.identityProblemChanged();
    camera.shoot("alert-keychain");
    root.answerAlert(true);

    // The sign-in sheet over the deck: both modes, a request under way, a refusal, then signed in.
    root.accountTapped();
    camera.shoot("signin-create");
    signIn.setAccount("ada");
    signIn.setPassword("correct horse");
    signIn.setCreating(false);
    camera.shoot("signin-signin");
    signIn.submit();
    camera.shoot("signin-busy");
    services.http->answer(services.http->sent.size() - 1, 401, R"({"error":"Wrong account name or password."})");
    camera.shoot("signin-error");
    // The tallest the sheet gets: creating an account, with the service's refusal.
    signIn.setCreating(true);
    signIn.setInviteCode("WELCOME");
    signIn.submit();
    services.http->answer(services.http->sent.size() - 1, 403, R"({"error":"That signup code is not valid."})");
    camera.shoot("signin-create-error");
    signIn.setCreating(false);
    signIn.setPassword("correct horse");
    signIn.submit();
    services.http->answer(services.http->sent.size() - 1, 200, R"({"account":"ada","token":"t0k3n"})");
    camera.shoot("deck-signed-in");
    root.accountTapped();
    camera.shoot("alert-sign-out");
    root.answerAlert(false);

    // The pairing screen: empty, a code typed, a claim on its way and refused, a link that is none,
    // every button enabled, and the manual card's note for a signed-in account.
    root.showPairing();
    camera.shoot("pairing-signed-in");
    services.account->signOut();
    root.showPairing();
    pairing.begin();
    camera.shoot("pairing");
    pairing.editCodeA("k4m2");
    pairing.editCodeB("9qxr");
    camera.shoot("pairing-code");
    pairing.claimShareCode();
    camera.shoot("pairing-claiming");
    services.http->answer(services.http->sent.size() - 1, 404,
                          R"({"error":"That code has expired. Ask for a new one."})");
    camera.shoot("pairing-claim-error");
    pairing.setLink("dovrel:/pair?host=studio");
    pairing.connectFromLink();
    camera.shoot("pairing-link-error");
    pairing.setManualAddress("192.168.1.20:4781O");
    pairing.connectManual();
    camera.shoot("pairing-manual-error");
    // Every field filled as it would be accepted, on a visit of its own, so that no error of the
    // attempts above stands over a value it does not concern.
    pairing.begin();
    pairing.editCodeA("k4m2");
    pairing.editCodeB("9qxr");
    pairing.setLink("dovrel://pair?host=192.168.1.20&code=482913&name=Studio");
    pairing.setManualAddress("192.168.1.20");
    pairing.editManualCode("482913");
    camera.shoot("pairing-enabled");

    // The session opening: the real client has not dialled, so the overlay says so.
    session.play(PhaseKind::connected);
    camera.shoot("session-opening");
    // Refused before it ever stood: the overlay stands still, and only the way out is offered.
    WEXClientTestAccess::setPhase(
        client, Phase::rejected("Wrong pairing code. Check the six digits the other computer shows and try again.",
                                RefusedPart::code));
    camera.shoot("session-refused");
    WEXClientTestAccess::setPhase(client, Phase::of(PhaseKind::disconnected));

    // A demo session with a picture: no overlay, the picture fitted on black, the link's figures.
    client.startDemo();
    sessionModel.setDemo(true);
    if (auto* video = window->findChild<VideoSurfaceItem*>("videoSurface"))
        video->surface()->enqueue(desktopPicture(1470, 956));
    sessionModel.setWindowOpen(true);
    SessionViewModel& m = sessionModel;
    m.hud()->interact();
    camera.shoot("session-picture");
    // Left alone, the controls rest after 3.2 s: they leave the picture.
    camera.shoot("session-idle", 4400);
    camera.before = [&] { m.hud()->interact(); };
    // The top row's window buttons under the pointer.
    if (QList<QQuickItem*> buttons = itemsNamed(*window, "sessionWindowButtons"); !buttons.isEmpty()) {
        if (QQuickItem* maximize = buttons[0]->findChild<QQuickItem*>("windowMaximize")) {
            // The row back first: at rest it takes no pointer, and a hover begun then would never show.
            m.hud()->interact();
            dovrel::test::waitSettled(*window);
            QTest::mouseMove(window, centreOf(maximize));
            camera.shoot("session-title-hover", 900, false);
        }
    }

    // The session window's overlays over the picture, each just after the user acted, so that the
    // controls are bright.
    m.pointerAt(QPointF(620, 380));
    m.clickAt(QPointF(420, 300));
    camera.shoot("session-marker");
    m.notices()->setLocalNotice(
        QObject::tr("Screen off. The machine stays reachable — reconnect any time and it wakes by itself."));
    camera.shoot("session-notice-local");
    m.notices()->dismiss();
    m.notices()->setAgentError(QString("Couldn't save \"report.pdf\": the disk is full."));
    camera.shoot("session-notice-agent");
    m.notices()->dismiss();
    m.notices()->setSecureScreen(true);
    camera.shoot("session-notice-secure");
    m.notices()->setSecureScreen(false);
    m.notices()->setSlowLink(linkTooSlowText(true));
    camera.shoot("session-notice-slow-link");
    m.notices()->setSlowLink(std::nullopt);
    // Lock and Ctrl+Alt+Del on a Windows machine without full control are refused with a notice.
    client.setTargetKind(QStringLiteral("windows"));
    wex::DeckStat noFullControl;
    noFullControl.flags = wex::DeckStat::flagAwake;
    WEXClientTestAccess::setDeckStat(client, noFullControl);
    const auto rowOf = [&](const QString& label) {
        const auto& entries = m.wheel()->entries();
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].label == label) return static_cast<int>(i);
        return -1;
    };
    m.runWheelAction(rowOf(QObject::tr("Lock")));
    camera.shoot("session-notice-lock");
    m.notices()->dismiss();
    m.runWheelAction(rowOf(QObject::tr("Ctrl+Alt+Del")));
    camera.shoot("session-notice-ctrl-alt-del");
    m.notices()->dismiss();
    m.hud()->setWheelOpen(true);
    camera.shoot("session-wheel-windows", 900);
    m.hud()->setWheelOpen(false);
    client.setTargetKind(QStringLiteral("mac"));
    m.hud()->setWheelOpen(true);
    camera.shoot("session-wheel-mac", 900);
    m.hud()->setWheelOpen(false);

    // The display picker: one display, then three tiles with the second streamed.
    m.hud()->setShowMonitors(true);
    camera.shoot("session-picker-one");
    std::vector<wex::DisplayInfo> screens(3);
    screens[0] = {0, 2560, 1440, 0, 0, {}, "Studio Display"};
    screens[1] = {1, 1920, 1080, 2560, 0, {}, "DELL U2419H"};
    screens[2] = {2, 1280, 800, -1280, 0, {}, "Built-in Retina Display"};
    WEXClientTestAccess::setDisplays(client, screens, 1);
    camera.shoot("session-picker");
    m.hud()->setShowMonitors(false);
    m.hud()->setShowGuide(true);
    camera.shoot("session-guide");
    client.setTargetKind(QStringLiteral("linux"));
    camera.shoot("session-guide-linux");
    m.hud()->setShowGuide(false);

    // The pointer-mode menu open under its chip; the audio muted.
    if (QList<QQuickItem*> chip = itemsNamed(*window, "pointerModeChip"); !chip.isEmpty()) {
        if (QObject* menu = chip[0]->findChild<QObject*>("pointerModeMenu")) {
            // Where the chip's click puts it: under the chip.
            menu->setProperty("y", chip[0]->height() + 4);
            QMetaObject::invokeMethod(menu, "open");
            camera.shoot("session-pointer-menu");
            QMetaObject::invokeMethod(menu, "close");
            settle(300);
        }
    }
    m.toggleAudio();
    camera.shoot("session-audio-muted");
    m.toggleAudio();

    // The picture dimmed while the link comes back; and while the computer refuses it, saying why.
    WEXClientTestAccess::setReconnecting(client, true);
    camera.shoot("session-reconnecting");
    WEXClientTestAccess::setReconnecting(client, true,
                                         QString::fromStdString(texts::stoppedRunning("Studio", "192.168.1.20")));
    camera.shoot("session-notice-stopped");
    WEXClientTestAccess::setReconnecting(client, false);

    // The assistant in the window: at work, busy, and with the day's generations used up.
    QuibPanelModel& panel = windowPanel.panel;
    panel.show();
    panel.setPrompt("fix grammar and make it friendlier");
    panel.setDraft("Hi Sam,\nThanks for the notes - I will send the new figures tomorrow morning.");
    panel.insert();
    camera.shoot("session-assistant");
    panel.generate();
    camera.shoot("session-assistant-busy");
    windowPanel.assistant->calls.back().done(QString("Hi Sam,\nThank you for the notes! I'll send the new figures "
                                                     "tomorrow morning."));
    windowPanel.assistant->remaining = 0;
    windowPanel.assistant->account = false;
    windowPanel.assistant->setCloudConsent(false);
    panel.refresh();
    camera.shoot("session-assistant-used-up");
    panel.hide();
    m.setWindowOpen(false);
    camera.before = nullptr;

    if (sheets) {
        shootSheets(engine, camera);
        shootLoadingSteps(engine, camera);
        shootDemoDecks(engine, camera, dir, root, appearance, tag);
    }
    return camera.ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: controller_screens OUTPUT-FOLDER\n");
        return 2;
    }
    // On an X server (scripts/screens-controller.sh starts one) the scene is drawn with OpenGL, shadows
    // and blurs included, as on a desktop; offscreen, Qt Quick's software renderer draws it without them.
    guiAppOnDisplay() = qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("xcb");
    viewApp();
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());
    dovrel::test::TempDir dir;
    bool ok = true;
    for (const char* scheme : {"dark", "light"}) {
        ok &= shootWindow(out, dir, scheme, QSize(1120, 760), true);
        ok &= shootWindow(out, dir, scheme, QSize(880, 600), false);
    }
    return ok ? 0 : 1;
}
