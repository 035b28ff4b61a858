#include "brand/BrandArt.h"
#include "brand/StarMark.h"

#include <map>
#include <memory>
#include <string>

#include <QPainter>
#include <QSvgRenderer>

namespace dovrel::brand {

namespace {

// One parsed drawing per file, for the life of the process. Main thread (the painters of Qt Quick's
// software renderer run there too).
QSvgRenderer& drawing(const char* path) {
    static std::map<std::string, std::unique_ptr<QSvgRenderer>> parsed;
    auto& slot = parsed[path];
    if (!slot) slot = std::make_unique<QSvgRenderer>(QString::fromLatin1(path));
    return *slot;
}

const char* wordmarkPath(WordmarkVersion version) {
    return version == WordmarkVersion::onDark ? ":/brand/wordmark-on-dark.svg" : ":/brand/wordmark-on-light.svg";
}

} // namespace

QRectF fitted(QSizeF art, const QRectF& box) {
    if (art.isEmpty() || box.isEmpty()) return {box.center(), QSizeF(0, 0)};
    const double scale = std::min(box.width() / art.width(), box.height() / art.height());
    const QSizeF size = art * scale;
    return {box.center().x() - size.width() / 2, box.center().y() - size.height() / 2, size.width(), size.height()};
}

bool paintWordmark(QPainter& painter, WordmarkVersion version, const QRectF& box) {
    QSvgRenderer& svg = drawing(wordmarkPath(version));
    if (!svg.isValid()) return false;
    svg.render(&painter, fitted(QSizeF(wordmarkSize), box));
    return true;
}

QImage wordmarkImage(WordmarkVersion version, QSize size) {
    QImage image(size.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    paintWordmark(p, version, QRectF(QPointF(0, 0), QSizeF(size)));
    return image;
}

bool paintStar(QPainter& painter, const QRectF& box, const QColor& color) {
    QSvgRenderer& svg = drawing(starResource);
    if (!svg.isValid() || box.isEmpty()) return false;
    // The drawing carries the brand green; any other colour is laid over its coverage.
    const QRectF target = fitted(svg.viewBoxF().size(), box);
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    QImage layer((target.size() * dpr).toSize().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(dpr);
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing);
        svg.render(&p, QRectF(QPointF(0, 0), target.size()));
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(QRectF(QPointF(0, 0), target.size()), color);
    }
    painter.drawImage(target.topLeft(), layer);
    return true;
}

} // namespace dovrel::brand
