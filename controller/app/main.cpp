#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

#include <QGuiApplication>
#include <QQuickStyle>
#include <QtQml/QQmlExtensionPlugin>

#include "brand/InterfaceFont.h"
#include "controller/app/CompositionRoot.h"
#include "controller/platform/ClientLog.h"
#include "controller/ui/session/VideoSurfaceItem.h"
#include "runtime/StopSignal.h"
#include "runtime/UnlockedLine.h"
#include "runtime/session/SessionEnd.h"
#include "runtime/tls/TlsLibrary.h"

Q_IMPORT_QML_PLUGIN(Dovrel_ControllerPlugin)
Q_IMPORT_QML_PLUGIN(Dovrel_LookPlugin)

int main(int argc, char** argv) {
    // Threads that spoke TLS may still be ending as the window closes and the program ends.
    dovrel::leaveTlsLibraryToProcessEnd();
    // A stop before the window stands (its QML loading, the display answering slowly) waits for the loop,
    // which then ends the orderly way below; a start-up that hangs is cut short. The controller has then
    // made no file that its normal stop removes (those of a clipboard offer come with a session).
    dovrel::StopSignalHold stopHeld;
    stopHeld.onCutShort([](std::string_view what) {
        (dovrel::UnlockedLine() << "[dovrel] " << what << " — quitting at once").writeTo(STDERR_FILENO);
    });
    dovrel::controller::VideoSurfaceItem::prepareProcess();
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("DovrelController"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("DOVRELÆ"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quendal.dovrel.controller"));
    // The views draw their own look over Qt Quick Controls' plain style, the same on every desktop.
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    dovrel::brand::useInterfaceFont();

    auto root = std::make_unique<dovrel::controller::CompositionRoot>(
        dovrel::controller::CompositionRoot::Options{QGuiApplication::arguments(), {}, nullptr});
    // The end of the desktop session is an ordinary stop too. The bus going away ends the loop; the
    // display going away leaves no loop to return to, and no window that can be taken down: the session
    // is closed and the process ends there. It watches from before the window is shown until the graph
    // is gone.
    const auto quitting = [](const std::string& what) {
        dovrel::controller::clientLog(what + " — closing the session and quitting");
    };
    const auto quit = [&app, &quitting](const std::string& what) {
        quitting(what);
        app.quit();
    };
    const dovrel::SessionEnd sessionEnd(quit, [&root, &quitting](const std::string& what) {
        quitting(what);
        // Null while the graph is being taken down.
        if (root) root->closeSessionNow();
    });
    std::string error;
    if (!root->start(error)) {
        std::fprintf(stderr, "[dovrel] DovrelController cannot start: %s\n", error.c_str());
        return 1;
    }
    // A stop signal (the session ending, a kill) ends the loop like closing the window: the session is
    // closed and the graph taken down in order, and the program ends with status 0. One held back while
    // the graph started does so at the loop's first turn.
    const dovrel::StopSignal stopSignal([&quit](const char* name) { quit(name); });
    const int status = QGuiApplication::exec();
    root.reset();
    return status;
}
