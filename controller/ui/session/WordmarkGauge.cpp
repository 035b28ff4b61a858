#include "controller/ui/session/WordmarkGauge.h"

#include <cmath>

#include <QLinearGradient>
#include <QPainter>

#include "brand/BrandArt.h"

namespace dovrel::controller {

WordmarkGauge::WordmarkGauge(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
    setImplicitSize(236, 236.0 * brand::wordmarkSize.height() / brand::wordmarkSize.width());
}

void WordmarkGauge::setDark(bool on) {
    if (on == dark_) return;
    dark_ = on;
    emit darkChanged();
    update();
}

void WordmarkGauge::setProgress(double p) {
    if (p == progress_ || (std::isnan(p) && std::isnan(progress_))) return;
    progress_ = p;
    emit progressChanged();
    update();
}

void WordmarkGauge::setShimmer(double x) {
    if (x == shimmer_) return;
    shimmer_ = x;
    emit shimmerChanged();
    update();
}

double WordmarkGauge::fillWidth(double progress, double width) {
    if (!(progress > 0)) return 0;
    const double w = progress <= 1 ? width * progress : width;
    return std::max(w, 0.0);
}

const QImage& WordmarkGauge::mark(QSize pixels, qreal dpr) {
    if (mark_.size() != pixels || markDark_ != dark_) {
        mark_ = brand::wordmarkImage(dark_ ? brand::WordmarkVersion::onDark : brand::WordmarkVersion::onLight, pixels);
        markDark_ = dark_;
    }
    if (mark_.devicePixelRatio() != dpr) {
        mark_.setDevicePixelRatio(dpr);
    }
    return mark_;
}

void WordmarkGauge::paint(QPainter* painter) {
    const QRectF art = brand::fitted(QSizeF(brand::wordmarkSize), QRectF(0, 0, width(), height()));
    if (art.isEmpty()) return;
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QSize pixels = (art.size() * dpr).toSize().expandedTo(QSize(1, 1));
    const QImage& letters = mark(pixels, dpr);
    const QRectF local(QPointF(0, 0), QSizeF(pixels) / dpr);

    // One layer of the letters, kept where `mask` paints (its alpha).
    const auto masked = [&](const auto& paintMask) {
        QImage layer = letters;
        QPainter p(&layer);
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        paintMask(p);
        return layer;
    };

    // 1. The whole wordmark, faint, in one tone of the words' colour: the brand's green letter, faint,
    // would fade into a light ground, and the gauge then read as a lone stroke until it had filled.
    {
        QImage base(pixels, QImage::Format_ARGB32_Premultiplied);
        base.setDevicePixelRatio(dpr);
        base.fill(dark_ ? QColor(255, 255, 255) : QColor(23, 23, 28));
        QPainter p(&base);
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        p.drawImage(QPointF(0, 0), letters);
        p.end();
        painter->setOpacity(baseOpacity);
        painter->drawImage(art.topLeft(), base);
        painter->setOpacity(1.0);
    }

    // 2. The fill: opaque up to 82 % of the filled width, fading to nothing at its end.
    const double filled = fillWidth(progress_, local.width());
    if (filled > 0) {
        const QImage fill = masked([&](QPainter& p) {
            QLinearGradient g(0, 0, filled, 0);
            g.setColorAt(0.0, Qt::white);
            g.setColorAt(0.82, Qt::white);
            g.setColorAt(1.0, Qt::transparent);
            p.fillRect(QRectF(0, 0, filled, local.height()), g);
            p.setCompositionMode(QPainter::CompositionMode_Clear);
            p.fillRect(QRectF(filled, 0, local.width() - filled, local.height()), Qt::transparent);
        });
        painter->drawImage(art.topLeft(), fill);
    }

    // 3. The sweep: a soft white band over the letters, blended so it brightens what lies under it.
    const double bandX = shimmer_ * local.width();
    const double bandW = bandWidth * local.width();
    if (bandX < local.width() && bandX + bandW > 0) {
        QImage band(pixels, QImage::Format_ARGB32_Premultiplied);
        band.setDevicePixelRatio(dpr);
        band.fill(Qt::transparent);
        {
            QPainter p(&band);
            QLinearGradient g(bandX, 0, bandX + bandW, 0);
            g.setColorAt(0.0, Qt::transparent);
            g.setColorAt(0.5, QColor(255, 255, 255, qRound(0.85 * 255)));
            g.setColorAt(1.0, Qt::transparent);
            p.fillRect(QRectF(bandX, 0, bandW, local.height()), g);
            p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            p.drawImage(QPointF(0, 0), letters);
        }
        painter->setCompositionMode(QPainter::CompositionMode_Overlay);
        painter->drawImage(art.topLeft(), band);
        painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
}

} // namespace dovrel::controller
