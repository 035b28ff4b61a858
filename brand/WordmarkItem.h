#pragma once

#include <QQuickPaintedItem>

namespace dovrel::brand {

// The wordmark as a Qt Quick item: the version drawn for dark backgrounds when `dark` is true, else
// the one for light backgrounds, fitted into the item with its proportions kept. Its implicit width
// follows its height (1500 : 176), so giving it a height is enough.
class WordmarkItem : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(bool dark READ dark WRITE setDark NOTIFY darkChanged)

public:
    explicit WordmarkItem(QQuickItem* parent = nullptr);

    bool dark() const { return dark_; }
    void setDark(bool on);

    void paint(QPainter* painter) override;

signals:
    void darkChanged();

protected:
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    bool dark_ = true;
};

} // namespace dovrel::brand
