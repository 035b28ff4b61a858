#include "agent/shell/QrCodeItem.h"

#include <QPainter>
#include <QQuickWindow>
#include <QtQml>

namespace dovrel::agent {

QrCodeItem::QrCodeItem(QQuickItem* parent) : QQuickPaintedItem(parent) { setAntialiasing(false); }

void QrCodeItem::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    matrix_ = encodeQr(text_);
    emit textChanged();
    update();
}

void QrCodeItem::paint(QPainter* painter) {
    const qreal ratio = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    const int pixels = static_cast<int>(std::min(width(), height()) * ratio);
    const QImage image = renderQr(matrix_, pixels);
    if (image.isNull()) return;
    painter->setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter->drawImage(QRectF(0, 0, pixels / ratio, pixels / ratio), image);
}

void QrCodeItem::registerType() { qmlRegisterType<QrCodeItem>("DovrelAgent", 1, 0, "QrCode"); }

} // namespace dovrel::agent
