#pragma once

#include <QPainterPath>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

namespace dovrel::controller {

// Quib's mark: a spiral of 2.7 turns from the centre out, stroked with a blue-violet-pink gradient,
// round caps, and a white dot at its centre. `pulse` scales the drawing about its centre (1.0 to
// 1.05 while the QML animates it).
class QuibSpiralItem : public QQuickPaintedItem {
    Q_OBJECT
    QML_NAMED_ELEMENT(QuibSpiral)
    Q_PROPERTY(qreal pulse READ pulse WRITE setPulse NOTIFY pulseChanged)

public:
    explicit QuibSpiralItem(QQuickItem* parent = nullptr);

    qreal pulse() const { return pulse_; }
    void setPulse(qreal scale);
    void paint(QPainter* painter) override;

    // The spiral's polyline for a canvas of `w` x `h`, from the centre outwards.
    static QPainterPath spiral(qreal w, qreal h);
    static qreal lineWidth(qreal w) { return std::max(0.085 * w, 1.4); }

signals:
    void pulseChanged();

private:
    qreal pulse_ = 1.0;
};

} // namespace dovrel::controller
