#include <cstdio>
#include <string>

#include <QGuiApplication>
#include <QQuickStyle>
#include <QtQml/QQmlExtensionPlugin>

#include "brand/InterfaceFont.h"
#include "controller/app/CompositionRoot.h"
#include "controller/platform/ClientLog.h"
#include "controller/ui/VideoSurfaceItem.h"
#include "runtime/StopSignal.h"

Q_IMPORT_QML_PLUGIN(Dovrel_ControllerPlugin)
Q_IMPORT_QML_PLUGIN(Dovrel_LookPlugin)

int main(int argc, char** argv) {
    dovrel::controller::VideoSurfaceItem::prepareProcess();
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("DovrelController"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("DOVRELÆ"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quendal.dovrel.controller"));
    // The views draw their own look over Qt Quick Controls' plain style, the same on every desktop.
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    dovrel::brand::useInterfaceFont();

    dovrel::controller::CompositionRoot root({QGuiApplication::arguments(), {}, nullptr});
    std::string error;
    if (!root.start(error)) {
        std::fprintf(stderr, "[dovrel] DovrelController cannot start: %s\n", error.c_str());
        return 1;
    }
    // A stop signal (the session ending, a kill) ends the loop like closing the window: the session is
    // closed and the graph taken down in order, and the program ends with status 0.
    const dovrel::StopSignal stopSignal([&app](const char* name) {
        dovrel::controller::clientLog(std::string(name) + " — closing the session and quitting");
        app.quit();
    });
    return QGuiApplication::exec();
}
