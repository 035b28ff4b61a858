// Renders the controller's screens as a person would see them, light and dark, to PNGs in the folder
// given as the first argument (scripts/screens.sh): the deck, the sign-in sheet, the pairing screen,
// the loading overlay at the steps of opening a session and after a refusal, a session with a picture,
// and the assistant panel. Fakes stand in for the network; nothing is dialled.
#include <cstdio>
#include <filesystem>
#include <functional>

#include <QDir>
#include <QPainter>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml/QQmlExtensionPlugin>

#include "../../support/TempHome.h"
#include "../media/YuvPicture.h"
#include "../ui/QuibPanelFakes.h"
#include "MainWindow.h"
#include "ViewTestSupport.h"
#include "controller/client/RemoteInput.h"
#include "controller/platform/FileSecretStore.h"
#include "controller/services/DeviceStore.h"
#include "controller/ui/AppearanceModel.h"
#include "controller/ui/PairingViewModel.h"
#include "controller/ui/RootViewModel.h"
#include "controller/ui/SessionViewModel.h"
#include "controller/ui/SignInViewModel.h"
#include "controller/ui/VideoSurfaceItem.h"
#include "runtime/Scheduler.h"

Q_IMPORT_QML_PLUGIN(Dovrel_ControllerPlugin)

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

// Saves the window after `ms` of frames, so that what animates has arrived.
bool save(QQuickWindow& window, const QString& path, int ms = 700) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        window.grabWindow();
    }
    const bool ok = window.grabWindow().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

// The deck alone over the window: the demo machines (one card flipped, then one frosted), and the same
// machines outside demo mode with their connect prompts.
bool saveDecks(QQmlEngine& engine, QQuickWindow& window, dovrel::test::TempDir& dir, RootViewModel& root,
               AppearanceModel& appearance, const QDir& out, const QString& tag) {
    QQmlComponent deckScreen(&engine, QUrl(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/DeckScreen.qml")));
    QQmlComponent backdrop(&engine, QUrl(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/ThemeBackground.qml")));
    std::unique_ptr<QObject> ground(backdrop.create());
    if (auto* g = qobject_cast<QQuickItem*>(ground.get())) {
        g->setParentItem(window.contentItem());
        g->setSize(window.size());
        g->setZ(9);
    }
    bool ok = true;
    for (const bool demo : {true, false}) {
        DeckParts parts(dir.file(tag.toStdString() + (demo ? "-demo.ini" : "-prompts.ini")), demo);
        if (!demo) parts.store.setDevices(DeviceStore(parts.defaults, true).devices());
        parts.usage.addReceived(1234LL * 1048576);
        std::unique_ptr<QObject> made(
            deckScreen.createWithInitialProperties({{"root", QVariant::fromValue(&root)},
                                                    {"appearance", QVariant::fromValue(&appearance)},
                                                    {"deck", QVariant::fromValue(&parts.deck)}}));
        auto* item = qobject_cast<QQuickItem*>(made.get());
        if (!item) {
            std::fprintf(stderr, "deck: %s\n", qPrintable(deckScreen.errorString()));
            return false;
        }
        item->setParentItem(window.contentItem());
        item->setSize(window.size());
        item->setZ(10);
        if (!demo) {
            ok &= save(window, out.filePath("deck-prompts-" + tag + ".png"));
            continue;
        }
        ok &= save(window, out.filePath("deck-demo-" + tag + ".png"));
        // The second card turned over, as a long press leaves it.
        QList<QObject*> gestures;
        std::function<void(QQuickItem*)> walk = [&](QQuickItem* at) {
            for (QQuickItem* child : at->childItems()) {
                if (QObject* g = child->findChild<QObject*>(QStringLiteral("flipGesture"), Qt::FindDirectChildrenOnly))
                    gestures << g;
                walk(child);
            }
        };
        walk(item);
        if (gestures.size() > 1) {
            QMetaObject::invokeMethod(gestures[1], "press", Q_ARG(double, 1), Q_ARG(double, 1));
            QMetaObject::invokeMethod(gestures[1], "held");
            QMetaObject::invokeMethod(gestures[1], "release");
        }
        settle(800);
        ok &= save(window, out.filePath("deck-flipped-" + tag + ".png"));
        parts.deck.toggleFrost(0);
        ok &= save(window, out.filePath("deck-frosted-" + tag + ".png"));
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: controller_screens OUTPUT-FOLDER\n");
        return 2;
    }
    viewApp();
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());
    dovrel::test::TempDir dir;
    bool ok = true;

    for (const char* scheme : {"dark", "light"}) {
        const QString tag = QString::fromLatin1(scheme);
        auto defaults = std::make_shared<UserDefaults>(dir.file(std::string(scheme) + ".ini"));
        defaults->setString(AppearanceModel::key, scheme);
        DarkDesktop desktop;
        AppearanceModel appearance(defaults, desktop);
        RootServices services;
        DeckParts deckParts(services.store, dir.file(std::string(scheme) + "-deck.ini"), false);
        ClientConfig config;
        config.settingsPath = dir.file(std::string(scheme) + ".ini");
        config.secrets = std::make_shared<FileSecretStore>(dir.file("secrets"));
        config.videoPort = 0;
        WEXClient client(std::move(config), services.account);
        FakeSessionPort session;
        RootViewModel root(session, services.store, *services.account,
                           LaunchArguments::parse({"p", "-autoHost", "studio.local"}), services.startPolling);
        auto input = makeRemoteInput(client, dovrel::realScheduler());
        FileTransfers files(client, client, dovrel::realScheduler());
        SessionViewModel sessionModel(client, *input, files, dovrel::realScheduler(), QColor(16, 185, 129));
        PairingViewModel pairing(services.api, *services.account, root);
        SignInViewModel signIn(services.api, *services.account, root);
        PanelParts windowPanel;

        QQmlApplicationEngine engine;
        QQuickWindow* window = loadMainWindow(
            engine, {root, sessionModel, appearance, pairing, signIn, deckParts.deck, windowPanel.panel});
        if (!window) return 1;

        ok &= save(*window, out.filePath("deck-empty-" + tag + ".png"));

        // The launch's automatic dial reached a machine that does not know this one: the pairing screen
        // with the window's notice saying so.
        session.play(PhaseKind::needsCode);
        ok &= save(*window, out.filePath("pairing-launch-needs-code-" + tag + ".png"));
        root.dismissNotice();
        root.cancelPairing();

        // A deck with machines, and the alerts it asks.
        std::vector<Device> machines(3);
        machines[0].name = "Studio";
        machines[0].host = "192.168.1.20";
        machines[0].state = Device::State::awake;
        machines[1].name = "Office tower";
        machines[1].deviceId = QString("0123456789abcdef0123456789abcdef");
        machines[2].name = "Lab laptop";
        machines[2].host = "10.0.0.7";
        machines[2].state = Device::State::offline;
        services.store.setDevices(machines);
        ok &= save(*window, out.filePath("deck-" + tag + ".png"));
        root.unpairRequested(0);
        ok &= save(*window, out.filePath("alert-unpair-" + tag + ".png"));
        root.answerAlert(false);
        root.renameRequested(1);
        ok &= save(*window, out.filePath("alert-rename-" + tag + ".png"));
        root.answerAlert(false);

        // The sign-in sheet over the deck: both modes, a request under way, a refusal.
        root.accountTapped();
        ok &= save(*window, out.filePath("signin-create-" + tag + ".png"));
        signIn.setAccount("ada");
        signIn.setPassword("correct horse");
        signIn.setCreating(false);
        ok &= save(*window, out.filePath("signin-signin-" + tag + ".png"));
        signIn.submit();
        ok &= save(*window, out.filePath("signin-busy-" + tag + ".png"));
        services.http->answer(services.http->sent.size() - 1, 401, R"({"error":"Wrong account name or password."})");
        ok &= save(*window, out.filePath("signin-error-" + tag + ".png"));
        root.signInSkipped();

        // The pairing screen: empty, a code typed, a claim the service refused.
        root.showPairing();
        ok &= save(*window, out.filePath("pairing-" + tag + ".png"));
        pairing.editCodeA("k4m2");
        pairing.editCodeB("9qxr");
        ok &= save(*window, out.filePath("pairing-code-" + tag + ".png"));
        pairing.claimShareCode();
        services.http->answer(services.http->sent.size() - 1, 404,
                              R"({"error":"That code has expired. Ask for a new one."})");
        ok &= save(*window, out.filePath("pairing-claim-error-" + tag + ".png"));

        // The session opening: the real client has not dialled, so the overlay says so.
        session.play(PhaseKind::connected);
        ok &= save(*window, out.filePath("session-opening-" + tag + ".png"));

        // A demo session with a picture: no overlay, the picture fitted on black, the link's figures.
        client.startDemo();
        sessionModel.setDemo(true);
        if (auto* video = window->findChild<VideoSurfaceItem*>("videoSurface"))
            video->surface()->enqueue(desktopPicture(1470, 956));
        sessionModel.setWindowOpen(true);
        ok &= save(*window, out.filePath("session-picture-" + tag + ".png"));

        // The session window's overlays over the picture: the cursor marker and a ripple, each notice,
        // the wheel for a Mac and for a Windows or Linux machine, the display picker and the guide.
        SessionViewModel& m = sessionModel;
        m.pointerAt(QPointF(620, 380));
        m.clickAt(QPointF(420, 300));
        ok &= save(*window, out.filePath("session-marker-" + tag + ".png"), 120);
        m.notices()->setLocalNotice(
            QObject::tr("Screen off. The machine stays reachable — reconnect any time and it wakes by itself."));
        ok &= save(*window, out.filePath("session-notice-local-" + tag + ".png"));
        m.notices()->dismiss();
        m.notices()->setAgentError(QString("Couldn't save \"report.pdf\": the disk is full."));
        ok &= save(*window, out.filePath("session-notice-agent-" + tag + ".png"));
        m.notices()->dismiss();
        m.notices()->setSecureScreen(true);
        ok &= save(*window, out.filePath("session-notice-secure-" + tag + ".png"));
        m.notices()->setSecureScreen(false);
        m.hud()->setWheelOpen(true);
        ok &= save(*window, out.filePath("session-wheel-mac-" + tag + ".png"), 900);
        m.hud()->setWheelOpen(false);
        client.setTargetIsWindows(true);
        m.hud()->setWheelOpen(true);
        ok &= save(*window, out.filePath("session-wheel-windows-" + tag + ".png"), 900);
        m.hud()->setWheelOpen(false);
        client.setTargetIsWindows(false);
        m.hud()->setShowMonitors(true);
        ok &= save(*window, out.filePath("session-picker-" + tag + ".png"));
        m.hud()->setShowMonitors(false);
        m.hud()->setShowGuide(true);
        ok &= save(*window, out.filePath("session-guide-" + tag + ".png"));
        m.hud()->setShowGuide(false);
        m.setWindowOpen(false);

        // The brand's marks on the window's backdrop: the star at three sizes and the wordmark.
        QQmlComponent marks(&engine);
        marks.setData("import QtQuick\nimport Dovrel.Controller\n"
                      "ThemeBackground { Row { anchors.centerIn: parent; spacing: 36\n"
                      "  DovrelMark { width: 128; height: 128; anchors.verticalCenter: parent.verticalCenter }\n"
                      "  DovrelMark { width: 48; height: 48; anchors.verticalCenter: parent.verticalCenter }\n"
                      "  DovrelMark { width: 18; height: 18; anchors.verticalCenter: parent.verticalCenter }\n"
                      "  DovrelWordmark { height: 48; anchors.verticalCenter: parent.verticalCenter } } }",
                      QUrl(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/Marks.qml")));
        {
            std::unique_ptr<QObject> made(marks.create());
            if (auto* item = qobject_cast<QQuickItem*>(made.get())) {
                item->setParentItem(window->contentItem());
                item->setSize(window->size());
                ok &= save(*window, out.filePath("marks-" + tag + ".png"));
            } else {
                std::fprintf(stderr, "marks: %s\n", qPrintable(marks.errorString()));
                ok = false;
            }
        }

        ok &= saveDecks(engine, *window, dir, root, appearance, out, tag);

        // The overlay alone at each step, the window's size.
        QQmlComponent overlay(&engine, QUrl(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/DovrelLoadingView.qml")));
        struct Step {
            const char* name;
            double progress;
            QString message, error;
        };
        for (const Step& s : {Step{"loading-reaching", 0.30, "Reaching Studio…", {}},
                              Step{"loading-securing", 0.58, "Securing the link…", {}},
                              Step{"loading-refused", 1.0, "Couldn't connect",
                                   "Wrong pairing code. Check the six digits the other computer shows and try "
                                   "again."}}) {
            std::unique_ptr<QObject> made(overlay.createWithInitialProperties(
                {{"progress", s.progress}, {"message", s.message}, {"errorText", s.error}}));
            auto* item = qobject_cast<QQuickItem*>(made.get());
            if (!item) return 1;
            item->setParentItem(window->contentItem());
            item->setSize(window->size());
            ok &= save(*window, out.filePath(QString::fromLatin1(s.name) + "-" + tag + ".png"));
        }

        // The assistant panel over the session's picture (it is dark in either appearance): at work,
        // and with the day's generations used up.
        auto assistant = std::make_shared<FakeAssistant>();
        QuibPanelModel panel(assistant, std::make_shared<FakeRemote>(), std::make_shared<FakeClipboard>());
        panel.show();
        panel.setPrompt("fix grammar and make it friendlier");
        panel.setDraft("Hi Sam,\nThanks for the notes - I will send the new figures tomorrow morning.");
        panel.insert();
        QQmlComponent quib(&engine, QUrl(QStringLiteral("qrc:/qt/qml/Dovrel/Controller/QuibPanel.qml")));
        std::unique_ptr<QObject> made(quib.createWithInitialProperties({{"model", QVariant::fromValue(&panel)}}));
        auto* item = qobject_cast<QQuickItem*>(made.get());
        if (!item) return 1;
        item->setParentItem(window->contentItem());
        // Where the session window floats it: centred, its foot 92 above the window's.
        const auto place = [&] {
            QCoreApplication::processEvents();
            item->setPosition(QPointF((window->width() - item->width()) / 2, window->height() - 92 - item->height()));
        };
        place();
        ok &= save(*window, out.filePath("assistant-" + tag + ".png"));
        assistant->remaining = 0;
        assistant->setCloudConsent(false);
        panel.refresh();
        place();
        ok &= save(*window, out.filePath("assistant-used-up-" + tag + ".png"));
    }
    return ok ? 0 : 1;
}
