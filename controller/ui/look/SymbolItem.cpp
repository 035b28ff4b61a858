#include "controller/ui/look/SymbolItem.h"

#include <QImage>
#include <QPainter>
#include <QQuickWindow>
#include <QSvgRenderer>
#include <QtMath>
#include <algorithm>

#include "controller/ui/look/SymbolSet.h"

namespace dovrel::controller {

SymbolItem::SymbolItem(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setImplicitSize(size_, size_);
    setAntialiasing(true);
}

void SymbolItem::setName(const QString& name) {
    if (name == name_) return;
    name_ = name;
    update();
    emit nameChanged();
}

void SymbolItem::setColor(const QColor& color) {
    if (color == color_) return;
    color_ = color;
    update();
    emit colorChanged();
}

void SymbolItem::setSize(double size) {
    if (size == size_) return;
    size_ = size;
    setImplicitSize(size, size);
    emit sizeChanged();
}

void SymbolItem::paint(QPainter* painter) {
    const QString path = SymbolSet::resourcePath(name_);
    if (path.isEmpty() || width() <= 0 || height() <= 0) return;
    QSvgRenderer svg(path);
    if (!svg.isValid()) return;
    // The drawing is a mask: rendered once at device pixels, then filled with the colour where it is.
    const qreal dpr = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    const QSizeF art = svg.defaultSize();
    const qreal scale = std::min(width() / art.width(), height() / art.height());
    const QSizeF drawn(art.width() * scale, art.height() * scale);
    const QRectF box((width() - drawn.width()) / 2, (height() - drawn.height()) / 2, drawn.width(), drawn.height());
    QImage mask(QSize(qCeil(box.width() * dpr), qCeil(box.height() * dpr)), QImage::Format_ARGB32_Premultiplied);
    if (mask.isNull()) return;
    mask.setDevicePixelRatio(dpr);
    mask.fill(Qt::transparent);
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing);
        svg.render(&p, QRectF(QPointF(0, 0), box.size()));
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(QRectF(QPointF(0, 0), box.size()), color_);
    }
    painter->drawImage(box.topLeft(), mask);
}

} // namespace dovrel::controller
