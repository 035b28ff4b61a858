#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <thread>

#include <QApplication>
#include <QQuickItem>
#include <QQuickView>
#include <QStringList>

#include "../../support/FakeScheduler.h"
#include "../shell/FakeAgentCommands.h"
#include "agent/shell/AgentWindow.h"
#include "agent/shell/AgentWindowModel.h"
#include "agent/shell/AppModel.h"
#include "agent/shell/CommandSelection.h"
#include "agent/shell/SettingsLauncher.h"
#include "agent/shell/TextClipboard.h"
#include "brand/InterfaceFont.h"

namespace dovrel::test {

// One QApplication for the process, offscreen with the software renderer, so that the real QML lays
// out and paints without a display, in the program's own font.
inline QApplication& guiApp() {
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("QT_QUICK_BACKEND", "software");
        static int argc = 1;
        static char arg0[] = "agent_window_tests";
        static char* argv[] = {arg0, nullptr};
        auto* made = new QApplication(argc, argv);
        dovrel::brand::useInterfaceFont();
        return made;
    }();
    return *app;
}

// Runs the event loop until `done` holds; false when it did not within `timeout`.
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class FakeClipboard final : public agent::TextClipboard {
public:
    void setText(const QString& text) override { texts.append(text); }
    QStringList texts;
};

class FakeLauncher final : public agent::SettingsLauncher {
public:
    bool available(const QString& program) override { return installed.contains(program); }
    bool open(const QString& program, const QStringList& args) override {
        opened.append(program + (args.isEmpty() ? QString() : " " + args.join(' ')));
        return true;
    }
    QStringList installed;
    QStringList opened;
};

// The states a person looks at: what a fresh agent shows before pairing; paired with a controller
// streaming; signed in with a grant and a share code; and the screen out of reach.
enum class Scene { unpaired, paired, signedIn, permissionMissing };

inline void stage(agent::AppModel& m, Scene scene) {
    m.setPairingCode("482913");
    m.setDeviceId("3f9a0c1d2e4b5a69");
    m.setLanIP("192.168.1.24");
    m.setPairingURL("dovrel://pair?host=192.168.1.24&id=3f9a0c1d2e4b5a69&code=482913&kind=linux&name=studio");
    m.setStatusText("Waiting for your device to pair…");
    m.setScreenRecording(true);
    m.setAccessibility(true);
    m.setWakeReady(true);
    switch (scene) {
    case Scene::unpaired: break;
    case Scene::paired:
        m.setStatusText("Connected - your device is controlling this computer");
        m.setConnectedClient("Ana's phone");
        m.setVideoFps(30);
        m.setVideoPath("relay");
        m.setWgIP("10.13.13.5");
        break;
    case Scene::signedIn:
        m.setAccount("ana@studio");
        // As the grant words it: "Expires", then the date and time in the medium and short forms.
        m.setGrantExpiryText("Expires 21 Mar 2026, 14:05");
        m.setGrantTTLHours(168);
        m.setShareCode("7KQ4 M2XD");
        m.setShareCodeNote("Valid for 30 minutes · pairs one device");
        m.setGrantNotice("A fresh code was issued.");
        break;
    case Scene::permissionMissing:
        m.setScreenRecording(false);
        m.setAccessibility(false);
        m.setWakeReady(false);
        break;
    }
}

inline agent::WindowSettings windowSettings() {
    agent::WindowSettings s;
    s.lanEnabled = true;
    s.facts = {":0", "x11", "enp3s0", agent::DesktopKind::x11, {}};
    return s;
}

// Readiness answers for the window, set by the test.
struct FakeReadiness {
    agent::Readiness answers;
    FakeClipboard clipboard;
    FakeLauncher launcher;
    agent::UnattendedChecker checker{[this] { return answers; }, "ana", launcher, clipboard};
};

// The window's QML in a view of its own, laid out for `vm`.
inline std::unique_ptr<QQuickView> loadWindow(agent::AgentWindowModel& vm, bool unrolled = false) {
    guiApp();
    agent::AgentWindow::registerTypes();
    auto view = std::make_unique<QQuickView>();
    view->setInitialProperties({{"vm", QVariant::fromValue(&vm)}, {"unrolled", unrolled}});
    view->setResizeMode(QQuickView::SizeViewToRootObject);
    view->setSource(QUrl(agent::AgentWindow::source));
    return view;
}

// The item named `name` in the visual tree under `at` (items a Repeater made have no QObject parent).
inline QQuickItem* findItem(QQuickItem* at, const QString& name) {
    if (!at) return nullptr;
    if (at->objectName() == name) return at;
    for (QQuickItem* child : at->childItems())
        if (QQuickItem* found = findItem(child, name)) return found;
    return at->findChild<QQuickItem*>(name);
}

// A command line's words as they read: without the joiners that keep each word on one line.
inline QString withoutJoiners(const QString& shown) {
    return dovrel::agent::CommandSelection::withoutLayoutMarks(shown);
}

inline QQuickItem* item(QQuickView& view, const char* name) {
    return findItem(view.rootObject(), QString::fromLatin1(name));
}

// A window model over a model staged for `scene` (none: the model as start-up leaves it), with fakes
// for everything it reaches.
struct TestWindow {
    FakeAgentCommands commands;
    agent::AppModel model{commands, nullptr};
    FakeReadiness readiness;
    FakeScheduler clock;
    FakeClipboard clipboard;
    FakeLauncher launcher;
    std::unique_ptr<agent::AgentWindowModel> vm;

    explicit TestWindow(std::optional<Scene> scene = Scene::unpaired) {
        guiApp();
        if (scene) stage(model, *scene);
        vm = std::make_unique<agent::AgentWindowModel>(model, readiness.checker, clock, clipboard, launcher,
                                                       windowSettings());
    }
    std::unique_ptr<QQuickView> load(bool unrolled = false) { return loadWindow(*vm, unrolled); }
};

} // namespace dovrel::test
