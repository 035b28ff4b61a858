#include "brand/WordmarkItem.h"

#include <QPainter>

#include "brand/BrandArt.h"

namespace dovrel::brand {

WordmarkItem::WordmarkItem(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
    setImplicitSize(wordmarkSize.width() * 24.0 / wordmarkSize.height(), 24);
}

void WordmarkItem::setDark(bool on) {
    if (on == dark_) return;
    dark_ = on;
    emit darkChanged();
    update();
}

void WordmarkItem::paint(QPainter* painter) {
    painter->setRenderHint(QPainter::Antialiasing);
    paintWordmark(*painter, dark_ ? WordmarkVersion::onDark : WordmarkVersion::onLight,
                  QRectF(0, 0, width(), height()));
}

void WordmarkItem::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.height() != oldGeometry.height())
        setImplicitWidth(newGeometry.height() * wordmarkSize.width() / wordmarkSize.height());
}

} // namespace dovrel::brand
