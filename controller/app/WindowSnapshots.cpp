#include "controller/app/WindowSnapshots.h"

#include <QFile>
#include <QImage>
#include <QSaveFile>
#include <QThreadPool>

#include "controller/platform/ClientLog.h"

namespace dovrel::controller {

WindowSnapshots::WindowSnapshots(QQuickWindow& window, QString path, int intervalMs, QObject* parent)
    : QObject(parent), window_(&window), path_(std::move(path)) {
    connect(&timer_, &QTimer::timeout, this, &WindowSnapshots::take);
    timer_.start(intervalMs);
}

void WindowSnapshots::take() {
    if (!window_) return;
    QImage picture = window_->grabWindow();
    if (picture.isNull()) return;
    QThreadPool::globalInstance()->start([picture = std::move(picture), path = path_] {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG") || !file.commit())
            clientLog("window picture: could not write " + path.toStdString());
    });
}

} // namespace dovrel::controller
