#pragma once

#include <QList>
#include <QObject>
#include <QPointF>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace dovrel::controller {

// The sparkline's points for a drawing area of `width` by `height`: evenly spaced from the left edge
// to the right (max(n, 2) - 1 intervals), a value v at height × (1 - v), clamped to the area (v <= 0 on
// the bottom edge, v > 1 on the top).
QList<QPointF> sparklinePoints(const QList<double>& values, double width, double height);

// The sparkline's two paths as SVG path text for QtQuick.Shapes: the line through the points, and the
// area under it closed along the bottom edge. Recomputed whenever the values or the size change.
class SparklineGeometry : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QList<double> values READ values WRITE setValues NOTIFY changed)
    Q_PROPERTY(double width READ width WRITE setWidth NOTIFY changed)
    Q_PROPERTY(double height READ height WRITE setHeight NOTIFY changed)
    Q_PROPERTY(QString line READ line NOTIFY changed)
    Q_PROPERTY(QString area READ area NOTIFY changed)

public:
    using QObject::QObject;

    QList<double> values() const { return values_; }
    void setValues(const QList<double>& values);
    double width() const { return width_; }
    void setWidth(double width);
    double height() const { return height_; }
    void setHeight(double height);
    QString line() const;
    QString area() const;

signals:
    void changed();

private:
    QList<double> values_;
    double width_ = 0;
    double height_ = 0;
};

} // namespace dovrel::controller
