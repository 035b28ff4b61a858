#include "controller/ui/deck/SparklineGeometry.h"

#include <algorithm>

namespace dovrel::controller {

QList<QPointF> sparklinePoints(const QList<double>& values, double width, double height) {
    QList<QPointF> points;
    const auto n = values.size();
    const double intervals = static_cast<double>(std::max<qsizetype>(n, 2) - 1);
    for (qsizetype i = 0; i < n; ++i) {
        const double v = values[i];
        double y = height * (1 - v);
        if (v > 1) y = 0;
        if (!(v > 0)) y = height; // also a NaN sample, which has no height of its own
        points.append(QPointF(width * static_cast<double>(i) / intervals, y));
    }
    return points;
}

namespace {
QString number(double v) { return QString::number(v, 'f', 2); }
QString point(const QPointF& p) { return number(p.x()) + QLatin1Char(' ') + number(p.y()); }

QString linePath(const QList<QPointF>& points) {
    QString path;
    for (qsizetype i = 0; i < points.size(); ++i)
        path += (i == 0 ? QStringLiteral("M ") : QStringLiteral(" L ")) + point(points[i]);
    return path;
}
} // namespace

void SparklineGeometry::setValues(const QList<double>& values) {
    if (values == values_) return;
    values_ = values;
    emit changed();
}

void SparklineGeometry::setWidth(double width) {
    if (width == width_) return;
    width_ = width;
    emit changed();
}

void SparklineGeometry::setHeight(double height) {
    if (height == height_) return;
    height_ = height;
    emit changed();
}

QString SparklineGeometry::line() const { return linePath(sparklinePoints(values_, width_, height_)); }

QString SparklineGeometry::area() const {
    const QList<QPointF> points = sparklinePoints(values_, width_, height_);
    if (points.isEmpty()) return {};
    return linePath(points) + QStringLiteral(" L ") + point(QPointF(points.last().x(), height_)) +
           QStringLiteral(" L ") + point(QPointF(points.first().x(), height_)) + QStringLiteral(" Z");
}

} // namespace dovrel::controller
