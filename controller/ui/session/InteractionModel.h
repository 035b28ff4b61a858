#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include <QColor>
#include <QObject>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QtQml/qqmlregistration.h>

#include "runtime/Scheduler.h"

namespace dovrel::controller {

// How the user's pointer meets the remote picture in one session window: the pointer mode chosen in
// its menu, where the local pointer is (for the cursor marker) and the last click's ripple. One per
// session window, started afresh each time the window opens; nothing is saved. Main thread.
//
// The mode is only chosen and shown: the capture item always maps the pointer absolutely.
class InteractionModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The session window's model holds its interaction model.")
    Q_PROPERTY(QString mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(QStringList modes READ modes CONSTANT)
    Q_PROPERTY(bool dragLock READ dragLock WRITE setDragLock NOTIFY dragLockChanged)
    Q_PROPERTY(QPointF cursorScreen READ cursorScreen NOTIFY cursorScreenChanged)
    Q_PROPERTY(bool showCursorMarker READ showCursorMarker NOTIFY showCursorMarkerChanged)
    Q_PROPERTY(bool hasRipple READ hasRipple NOTIFY rippleChanged)
    Q_PROPERTY(QUuid rippleId READ rippleId NOTIFY rippleChanged)
    Q_PROPERTY(QPointF rippleCenter READ rippleCenter NOTIFY rippleChanged)
    Q_PROPERTY(QColor rippleColor READ rippleColor NOTIFY rippleChanged)
    Q_PROPERTY(QString rippleKind READ rippleKind NOTIFY rippleChanged)

public:
    enum class CursorMode { direct, relative, hybrid };
    struct Ripple {
        QUuid id;
        QPointF center;
        QColor color;
        QString kind;
    };
    static constexpr auto rippleLifetime = std::chrono::milliseconds(500);

    // `accent` colours the ripples (the theme's accent).
    InteractionModel(Scheduler& clock, QColor accent, QObject* parent = nullptr);
    ~InteractionModel() override;

    // "direct", "relative" or "hybrid" (the default); any other text is ignored.
    QString mode() const { return nameOf(mode_); }
    void setMode(const QString& name);
    CursorMode cursorMode() const { return mode_; }
    QStringList modes() const;
    static QString nameOf(CursorMode mode);

    bool dragLock() const { return dragLock_; }
    void setDragLock(bool on);
    QPointF cursorScreen() const { return cursorScreen_; }
    bool showCursorMarker() const { return pointerSeen_ && pictureShown_; }
    const std::optional<Ripple>& ripple() const { return ripple_; }
    bool hasRipple() const { return ripple_.has_value(); }
    QUuid rippleId() const { return ripple_ ? ripple_->id : QUuid(); }
    QPointF rippleCenter() const { return ripple_ ? ripple_->center : QPointF(); }
    QColor rippleColor() const { return ripple_ ? ripple_->color : QColor(); }
    QString rippleKind() const { return ripple_ ? ripple_->kind : QString(); }

    // The pointer is at `point` (window coordinates): the marker shows there.
    Q_INVOKABLE void pointerAt(QPointF point);
    // A click at `point`: a fresh ripple replaces any other and goes 0.5 s later unless replaced.
    Q_INVOKABLE void clickAt(QPointF point);
    // A session window opens: hybrid mode, no drag lock, no marker until the pointer moves, no ripple.
    void reset();
    // Whether a picture is on show: without one the marker and the ripple would point at nothing, and
    // neither is drawn (a ripple under way goes).
    void setPictureShown(bool shown);

signals:
    void modeChanged();
    void dragLockChanged();
    void cursorScreenChanged();
    void showCursorMarkerChanged();
    void rippleChanged();

private:
    Scheduler& clock_;
    QColor accent_;
    CursorMode mode_ = CursorMode::hybrid;
    bool dragLock_ = false;
    QPointF cursorScreen_{0, 0};
    bool pointerSeen_ = false;
    bool pictureShown_ = true;
    std::optional<Ripple> ripple_;
    std::unique_ptr<Timer> rippleTimer_;
};

} // namespace dovrel::controller
