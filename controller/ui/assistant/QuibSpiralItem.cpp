#include "controller/ui/assistant/QuibSpiralItem.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <QLinearGradient>
#include <QPainter>

namespace dovrel::controller {

QuibSpiralItem::QuibSpiralItem(QQuickItem* parent) : QQuickPaintedItem(parent) { setAntialiasing(true); }

void QuibSpiralItem::setPulse(qreal scale) {
    if (scale == pulse_) return;
    pulse_ = scale;
    emit pulseChanged();
    update();
}

QPainterPath QuibSpiralItem::spiral(qreal w, qreal h) {
    const QPointF c(w / 2, h / 2);
    const qreal r = 0.42 * std::min(w, h);
    QPainterPath path(c);
    for (int i = 1; i <= 140; ++i) {
        const qreal t = i / 140.0;
        const qreal d = r * t;
        const qreal a = t * 2.7 * 2 * std::numbers::pi;
        path.lineTo(c.x() + d * std::cos(a), c.y() + d * std::sin(a));
    }
    return path;
}

void QuibSpiralItem::paint(QPainter* painter) {
    const qreal w = width(), h = height();
    if (w <= 0 || h <= 0) return;
    painter->setRenderHint(QPainter::Antialiasing);
    painter->translate(w / 2, h / 2);
    painter->scale(pulse_, pulse_);
    painter->translate(-w / 2, -h / 2);

    QLinearGradient gradient(0, 0, w, h);
    gradient.setColorAt(0.0, QColor::fromRgbF(0.30f, 0.55f, 1.00f));
    gradient.setColorAt(0.5, QColor::fromRgbF(0.58f, 0.36f, 0.95f));
    gradient.setColorAt(1.0, QColor::fromRgbF(0.96f, 0.42f, 0.72f));
    QPen pen(QBrush(gradient), lineWidth(w), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    pen.setMiterLimit(10);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(spiral(w, h));

    const qreal r = 0.42 * std::min(w, h);
    painter->setPen(Qt::NoPen);
    painter->setBrush(Qt::white);
    painter->drawEllipse(QPointF(w / 2, h / 2), 0.17 * r, 0.17 * r);
}

} // namespace dovrel::controller
