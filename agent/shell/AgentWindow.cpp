#include "agent/shell/AgentWindow.h"

#include <QGuiApplication>
#include <QQmlEngine>
#include <QQmlError>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QScreen>
#include <QtQml/QQmlExtensionPlugin>

#include "agent/common/AgentLog.h"
#include "agent/shell/QrCodeItem.h"
#include "brand/WordmarkItem.h"

// The controls, palette and type scale the agent shares with the controller.
Q_IMPORT_QML_PLUGIN(Dovrel_LookPlugin)

namespace dovrel::agent {

const char* const AgentWindow::source = "qrc:/agent/qml/AgentWindow.qml";

void AgentWindow::registerTypes() {
    static const bool once = [] {
        // A still window of one column needs no graphics card: drawn on the main thread, it also leaves no
        // render thread to meet the X server's end on its own (the display's end is handled on the main
        // thread, see SessionEnd).
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        QrCodeItem::registerType();
        qmlRegisterType<brand::WordmarkItem>("DovrelAgent", 1, 0, "Wordmark");
        return true;
    }();
    (void)once;
}

AgentWindow::AgentWindow(AgentWindowModel& model, bool trayShown) : model_(model), trayShown_(trayShown) {}

AgentWindow::~AgentWindow() = default;

void AgentWindow::build() {
    registerTypes();
    view_ = std::make_unique<QQuickView>();
    view_->setTitle(QStringLiteral("DOVRELÆ - Pair your device"));
    Qt::WindowFlags flags =
        Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint;
    flags |= trayShown_ ? Qt::Tool : (Qt::Window | Qt::WindowMinimizeButtonHint);
    view_->setFlags(flags);
    view_->setResizeMode(QQuickView::SizeRootObjectToView);
    view_->setInitialProperties({{QStringLiteral("vm"), QVariant::fromValue(&model_)}});
    view_->setSource(QUrl(QString::fromLatin1(source)));
    // The pairing code is readable only while the window is on the screen.
    QObject::connect(view_.get(), &QWindow::visibilityChanged, &context_, [this](QWindow::Visibility v) {
        model_.windowVisible(v != QWindow::Hidden && v != QWindow::Minimized);
    });
    // A window without its content would look like a hang: say why in the log.
    for (const QQmlError& error : view_->errors())
        print("⚠︎ the window's content could not be built — " + error.toString().toStdString());
    const QSize size(width, height);
    view_->setMinimumSize(size);
    view_->setMaximumSize(size);
    view_->resize(size);
    if (const QScreen* screen = view_->screen()) {
        const QRect free = screen->availableGeometry();
        view_->setPosition(free.center() - QPoint(width / 2, height / 2));
    }
}

void AgentWindow::present() {
    if (!view_) build();
    model_.windowShown();
    view_->show();
    view_->raise();
    view_->requestActivate();
}

} // namespace dovrel::agent
