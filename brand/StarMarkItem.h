#pragma once

#include <QColor>
#include <QQuickPaintedItem>

namespace dovrel::brand {

// The star mark as a Qt Quick item: the twelve-pointed star filled with `color`, fitted into the item.
class StarMarkItem : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)

public:
    explicit StarMarkItem(QQuickItem* parent = nullptr);

    QColor color() const { return color_; }
    void setColor(const QColor& color);

    void paint(QPainter* painter) override;

signals:
    void colorChanged();

private:
    QColor color_{16, 185, 129};
};

} // namespace dovrel::brand
