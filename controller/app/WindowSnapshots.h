#pragma once

#include <QObject>
#include <QPointer>
#include <QQuickWindow>
#include <QString>
#include <QTimer>

namespace dovrel::controller {

// Saves a picture of the window as a PNG at `path` every `intervalMs`, replacing the last one whole
// (written beside it, then renamed), so that a script or test without a display can look at what the
// window shows. The grab runs on the main thread; encoding and writing run on a pool thread.
class WindowSnapshots : public QObject {
    Q_OBJECT

public:
    WindowSnapshots(QQuickWindow& window, QString path, int intervalMs, QObject* parent = nullptr);

private:
    void take();

    QPointer<QQuickWindow> window_;
    QString path_;
    QTimer timer_;
};

} // namespace dovrel::controller
