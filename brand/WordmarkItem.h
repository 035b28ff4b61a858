#pragma once

#include <QQuickPaintedItem>

namespace dovrel::brand {

// The wordmark as a Qt Quick item: the version drawn for dark backgrounds when `onDark` is true, else
// the one for light backgrounds, fitted into the item with its proportions kept. Its implicit width
// follows its height (1500 : 176), so giving it a height is enough.
class WordmarkItem : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(bool onDark READ onDark WRITE setOnDark NOTIFY onDarkChanged)

public:
    explicit WordmarkItem(QQuickItem* parent = nullptr);

    bool onDark() const { return onDark_; }
    void setOnDark(bool on);

    void paint(QPainter* painter) override;

signals:
    void onDarkChanged();

protected:
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    bool onDark_ = true;
};

} // namespace dovrel::brand
