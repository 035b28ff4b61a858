#include "brand/StarMarkItem.h"

#include <QPainter>

#include "brand/BrandArt.h"

namespace dovrel::brand {

StarMarkItem::StarMarkItem(QQuickItem* parent) : QQuickPaintedItem(parent) { setAntialiasing(true); }

void StarMarkItem::setColor(const QColor& color) {
    if (color == color_) return;
    color_ = color;
    emit colorChanged();
    update();
}

void StarMarkItem::paint(QPainter* painter) { paintStar(*painter, QRectF(0, 0, width(), height()), color_); }

} // namespace dovrel::brand
