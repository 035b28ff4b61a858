#include <cstdio>
#include <string>

#include <QGuiApplication>
#include <QQuickStyle>
#include <QtQml/QQmlExtensionPlugin>

#include "controller/app/CompositionRoot.h"
#include "controller/ui/VideoSurfaceItem.h"

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

    dovrel::controller::CompositionRoot root({QGuiApplication::arguments(), {}, nullptr});
    std::string error;
    if (!root.start(error)) {
        std::fprintf(stderr, "[dovrel] DovrelController cannot start: %s\n", error.c_str());
        return 1;
    }
    return QGuiApplication::exec();
}
