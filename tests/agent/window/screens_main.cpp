// Renders the agent's window in each state a person looks at, light and dark, to PNGs:
// agent_window_screens <folder>. The column is laid out at its full height so every section shows;
// the window as it opens, at its real 320 x 640 with its scroll bar, is rendered too, at the top and
// scrolled to its end.

#include <cstdio>
#include <functional>

#include <QDir>
#include <QImage>

#include "../../support/FakeScheduler.h"
#include "../../support/Settling.h"
#include "WindowTestSupport.h"
#include "agent/shell/AgentPresenter.h"

using namespace dovrel;
using namespace dovrel::test;

namespace {

// What the supervisor says when no user unit watches the agent.
const char* const unwatched = "Nothing is watching the agent — it will not come back if it stops";

// The view once nothing in it is on its way; none (and the picture's write fails) if something does
// not come to rest: a picture between two states shows neither.
QImage settledGrab(QQuickView& view) {
    if (const QStringList moving = waitSettled(view); !moving.isEmpty()) {
        std::fprintf(stderr, "not settled: %s\n", qPrintable(moving.join(QStringLiteral(", "))));
        return {};
    }
    return view.grabWindow();
}

// The whole column: it settles its height over a few layout passes, and the view then takes it.
QImage grab(QQuickView& view) {
    if (view.status() != QQuickView::Ready) return {};
    view.show();
    for (int pass = 0; pass < 5; ++pass) {
        QCoreApplication::processEvents();
        view.resize(view.rootObject()->size().toSize());
    }
    return settledGrab(view);
}

bool write(const QImage& image, const QString& out) {
    if (image.isNull() || !image.save(out)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
        return false;
    }
    std::printf("%s\n", qPrintable(out));
    return true;
}

// A state of the window: the scene it starts from and what a person did or the agent reported since.
struct State {
    const char* name;
    Scene scene;
    std::function<void(TestWindow&)> then;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    guiApp();
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const State states[] = {
        {"unpaired", Scene::unpaired, {}},
        {"paired", Scene::paired, [](TestWindow& w) { w.vm->setShowManual(true); }},
        {"signed-in", Scene::signedIn, [](TestWindow& w) { w.vm->copyShareCode(); }},
        {"link-copied", Scene::unpaired,
         [](TestWindow& w) {
             w.vm->setShowManual(true);
             w.vm->copyPairingLink();
         }},
        // Wrong codes from two neighbours and through the relay paused pairing by code.
        {"code-paused", Scene::signedIn,
         [](TestWindow& w) {
             agent::AgentPresenter presenter(w.model, w.clock);
             presenter.sessionChanged(agent::SessionPhase::waiting, {});
             presenter.codePairingPaused(true, {"192.168.1.57", "192.168.1.81", ""});
         }},
        {"code-paused-unshared", Scene::unpaired,
         [](TestWindow& w) {
             agent::AgentPresenter presenter(w.model, w.clock);
             presenter.sessionChanged(agent::SessionPhase::waiting, {});
             presenter.codePairingPaused(true, {"192.168.1.57"});
             w.vm->setShowManual(true);
         }},
        // The fifth wrong code drew the code the window now shows.
        {"code-redrawn", Scene::unpaired,
         [](TestWindow& w) {
             w.model.setCodeDrawnAfterWrongCodes(w.model.pairingCode());
             w.vm->setShowManual(true);
         }},
        {"permission-missing", Scene::permissionMissing,
         [](TestWindow& w) {
             w.vm->screenCapture()->enable();
             w.vm->wake()->enable();
         }},
        // The form switched to making an account, filled in, and the request under way.
        {"create-account", Scene::unpaired,
         [](TestWindow& w) {
             w.vm->toggleAccountMode();
             w.vm->setAcctName("ana@studio");
             w.vm->setAcctPassword("correct horse");
             w.vm->setAcctInvite("WELCOME");
         }},
        // The account service refused what was typed: the error under the form, the fields marked.
        {"account-error", Scene::unpaired,
         [](TestWindow& w) {
             w.vm->setAcctName("ana@studio");
             w.vm->setAcctPassword("not the one");
             w.vm->submitAccount();
             w.model.setAccountError("Wrong account name or password.");
         }},
        {"account-busy", Scene::unpaired,
         [](TestWindow& w) {
             w.vm->setAcctName("ana@studio");
             w.vm->setAcctPassword("correct horse");
             w.model.setAccountBusy(true);
         }},
        // A new code on its way; the confirmation before every code is cancelled; the relay failing a
        // new code (only a signed-in computer can ask for one).
        {"grant-busy", Scene::signedIn, [](TestWindow& w) { w.model.setGrantBusy(true); }},
        {"cancel-confirm", Scene::signedIn, [](TestWindow& w) { w.vm->askCancelAllAccess(); }},
        {"grant-error", Scene::signedIn,
         [](TestWindow& w) { w.model.setGrantError("The relay didn't return a code."); }},
    };
    int failures = 0;
    for (const State& state : states) {
        for (const bool dark : {false, true}) {
            TestWindow w(state.scene);
            agent::AgentWindowModel& vm = *w.vm;
            w.readiness.answers.supervisorSentence = unwatched;
            vm.setDark(dark);
            if (state.then) state.then(w);
            vm.windowShown();
            w.readiness.checker.waitForChecks();
            auto view = w.load(true);
            const QString out =
                QStringLiteral("%1/agent-window-%2-%3.png").arg(folder, state.name, dark ? "dark" : "light");
            failures += write(grab(*view), out) ? 0 : 1;
        }
    }
    // GNOME's Wayland session whose remote desktop shares no clipboard: the rows speak of GNOME.
    for (const bool dark : {false, true}) {
        TestWindow w(Scene::paired);
        agent::WindowSettings gnome = windowSettings();
        gnome.facts = {"", "wayland", "enp3s0", agent::DesktopKind::gnomeWayland, "GNOME on Wayland"};
        w.vm = std::make_unique<agent::AgentWindowModel>(w.model, w.readiness.checker, w.clock, w.clipboard, w.launcher,
                                                         gnome);
        w.model.setScreenRecording(true);
        w.model.setAccessibility(true);
        w.model.setClipboardText(false);
        w.readiness.answers.supervisorSentence = unwatched;
        w.vm->setDark(dark);
        w.vm->clipboardText()->enable();
        w.vm->windowShown();
        w.readiness.checker.waitForChecks();
        auto view = w.load(true);
        const QString out = QStringLiteral("%1/agent-window-gnome-%2.png").arg(folder, dark ? "dark" : "light");
        failures += write(grab(*view), out) ? 0 : 1;
    }
    // The window as it opens, 320 x 640 with its scroll bar, and scrolled to its end.
    for (const bool dark : {false, true}) {
        TestWindow w(Scene::unpaired);
        w.readiness.answers.supervisorSentence = unwatched;
        w.vm->setDark(dark);
        w.vm->windowShown();
        w.readiness.checker.waitForChecks();
        auto view = w.load(false);
        view->show();
        for (int pass = 0; pass < 5; ++pass)
            QCoreApplication::processEvents();
        const QString scheme = dark ? "dark" : "light";
        failures +=
            write(settledGrab(*view), QStringLiteral("%1/agent-window-real-%2.png").arg(folder, scheme)) ? 0 : 1;
        if (QQuickItem* scroll = item(*view, "scroll")) {
            // The view's flickable: scroll it to its end.
            for (QQuickItem* child : scroll->childItems())
                if (child->property("contentHeight").isValid()) {
                    child->setProperty("contentY", child->property("contentHeight").toDouble() - child->height());
                }
        }
        for (int pass = 0; pass < 5; ++pass)
            QCoreApplication::processEvents();
        failures +=
            write(settledGrab(*view), QStringLiteral("%1/agent-window-real-end-%2.png").arg(folder, scheme)) ? 0 : 1;
    }
    // The unattended-access section alone: ready, then each condition missing in turn.
    const std::pair<int, const char*> missing[] = {{-1, "ready"},         {0, "no-supervisor"},    {1, "no-autologin"},
                                                   {2, "encryption-off"}, {3, "no-power-restore"}, {4, "sleeps"}};
    for (const auto& [row, name] : missing) {
        for (const bool dark : {false, true}) {
            TestWindow w;
            agent::Readiness& a = w.readiness.answers;
            a.autoLogin = a.noSleep = a.restartAfterPower = a.supervised = true;
            a.autoLoginUser = "ana";
            a.powerRestore = agent::Readiness::PowerRestore::restores;
            a.powerPolicy = "always-on";
            a.supervisorSentence = unwatched;
            switch (row) {
            case 0: a.supervised = false; break;
            case 1:
                a.autoLogin = false;
                a.autoLoginUser.clear();
                break;
            case 2: a.diskEncryptionOff = true; break;
            case 3:
                a.restartAfterPower = false;
                a.powerRestore = agent::Readiness::PowerRestore::unknown;
                break;
            case 4: a.noSleep = false; break;
            default: break;
            }
            w.vm->setDark(dark);
            w.vm->windowShown();
            w.readiness.checker.waitForChecks();
            auto view = w.load(true);
            const QImage image = grab(*view);
            QQuickItem* section = item(*view, "unattended");
            const QRectF r =
                section ? section->mapRectToScene(QRectF(-16, -8, section->width() + 32, section->height() + 16))
                        : QRectF();
            const QString out =
                QStringLiteral("%1/agent-unattended-%2-%3.png").arg(folder, name, dark ? "dark" : "light");
            if (!write(image.isNull() || r.isEmpty() ? QImage() : image.copy(r.toAlignedRect()), out)) ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
