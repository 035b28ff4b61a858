// Renders the agent's window in each state a person looks at, light and dark, to PNGs:
// agent_window_screens <folder>. The column is laid out at its full height so every section shows.

#include <cstdio>

#include <QDir>
#include <QImage>

#include "../../support/FakeScheduler.h"
#include "WindowTestSupport.h"

using namespace dovrel;
using namespace dovrel::test;

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
            agent::AppModel model;
            stage(model, scene);
            FakeScheduler clock;
            FakeClipboard clipboard;
            FakeLauncher launcher;
            agent::AgentWindowModel vm(model, clock, clipboard, launcher, windowSettings());
            vm.setDark(dark);
            if (scene == Scene::permissionMissing) {
                vm.screenCapture()->enable();
                vm.wake()->enable();
            }
            if (scene == Scene::signedIn) vm.copyShareCode();
            if (scene == Scene::paired) vm.setShowManual(true);
            auto view = loadWindow(vm, true);
            if (view->status() != QQuickView::Ready) {
                std::fprintf(stderr, "%s: the window's QML did not load\n", name);
                return 1;
            }
            view->show();
            // The column settles its height over a few layout passes; the view then takes it.
            for (int pass = 0; pass < 5; ++pass) {
                QCoreApplication::processEvents();
                view->resize(view->rootObject()->size().toSize());
            }
            const QImage image = view->grabWindow();
            const QString out = QStringLiteral("%1/agent-window-%2-%3.png").arg(folder, name, dark ? "dark" : "light");
            if (image.isNull() || !image.save(out)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
                ++failures;
                continue;
            }
            std::printf("%s\n", qPrintable(out));
        }
    }
    return failures == 0 ? 0 : 1;
}
