#pragma once

#include <QObject>
#include <QPointF>
#include <QtQml/qqmlregistration.h>

namespace dovrel::controller {

// A machine card's flip: a press held `holdMs` that strays no more than `slop` points from where it
// began turns the card over (the QML's timer calls held() after holdMs); the close button turns it
// back. A press that flipped the card is not also a click. Main thread.
class FlipGesture : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool flipped READ flipped NOTIFY flippedChanged)
    Q_PROPERTY(int holdMs READ holdMs CONSTANT)

public:
    static constexpr int holdInterval = 300;
    static constexpr double slop = 10;

    using QObject::QObject;

    bool flipped() const { return flipped_; }
    int holdMs() const { return holdInterval; }

    Q_INVOKABLE void press(double x, double y);
    Q_INVOKABLE void move(double x, double y);
    // The press has lasted holdMs: flips the card when it still qualifies; true when it flipped.
    Q_INVOKABLE bool held();
    // The press ended: true when it counts as a click (it did not flip the card).
    Q_INVOKABLE bool release();
    Q_INVOKABLE void close();

signals:
    void flippedChanged();

private:
    void setFlipped(bool on);

    QPointF origin_;
    bool pressed_ = false;
    bool strayed_ = false;
    bool fired_ = false;
    bool flipped_ = false;
};

} // namespace dovrel::controller
