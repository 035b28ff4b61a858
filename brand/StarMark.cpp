#include "brand/StarMark.h"

#include <QPainter>
#include <QSvgRenderer>

namespace dovrel::brand {

QImage starImage(int side, double inset) {
    QSvgRenderer svg(QString::fromLatin1(starResource));
    if (!svg.isValid() || side <= 0) return {};
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter, QRectF(inset, inset, side - 2 * inset, side - 2 * inset));
    return image;
}

} // namespace dovrel::brand
