// Renders the agent's window in each state a person looks at, light and dark, to PNGs:
// agent_window_screens <folder>. The column is laid out at its full height so every section shows.

#include <cstdio>

#include <QDir>
#include <QImage>

#include "../../support/FakeScheduler.h"
#include "WindowTestSupport.h"

using namespace dovrel;
using namespace dovrel::test;

namespace {

// What the supervisor says when no user unit watches the agent.
const char* const unwatched = "Nothing is watching the agent — it will not come back if it stops";

// The whole column: it settles its height over a few layout passes, and the view then takes it.
QImage grab(QQuickView& view) {
    if (view.status() != QQuickView::Ready) return {};
    view.show();
    for (int pass = 0; pass < 5; ++pass) {
        QCoreApplication::processEvents();
        view.resize(view.rootObject()->size().toSize());
    }
    return view.grabWindow();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    guiApp();
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const std::pair<Scene, const char*> scenes[] = {{Scene::unpaired, "unpaired"},
                                                    {Scene::paired, "paired"},
                                                    {Scene::signedIn, "signed-in"},
                                                    {Scene::permissionMissing, "permission-missing"}};
    int failures = 0;
    for (const auto& [scene, name] : scenes) {
        for (const bool dark : {false, true}) {
            TestWindow w(scene);
            agent::AgentWindowModel& vm = *w.vm;
            w.readiness.answers.supervisorSentence = unwatched;
            vm.setDark(dark);
            if (scene == Scene::permissionMissing) {
                vm.screenCapture()->enable();
                vm.wake()->enable();
            }
            if (scene == Scene::signedIn) vm.copyShareCode();
            if (scene == Scene::paired) vm.setShowManual(true);
            vm.windowShown();
            w.readiness.checker.waitForChecks();
            auto view = w.load(true);
            const QImage image = grab(*view);
            const QString out = QStringLiteral("%1/agent-window-%2-%3.png").arg(folder, name, dark ? "dark" : "light");
            if (image.isNull() || !image.save(out)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
                ++failures;
                continue;
            }
            std::printf("%s\n", qPrintable(out));
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
        const QImage image = grab(*view);
        const QString out = QStringLiteral("%1/agent-window-gnome-%2.png").arg(folder, dark ? "dark" : "light");
        if (image.isNull() || !image.save(out)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
            ++failures;
            continue;
        }
        std::printf("%s\n", qPrintable(out));
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
            if (image.isNull() || r.isEmpty() || !image.copy(r.toAlignedRect()).save(out)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
                ++failures;
                continue;
            }
            std::printf("%s\n", qPrintable(out));
        }
    }
    return failures == 0 ? 0 : 1;
}
