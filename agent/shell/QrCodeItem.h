#pragma once

#include <QQuickPaintedItem>
#include <QString>

#include "agent/shell/QrCode.h"

namespace dovrel::agent {

// The window's QR code: paints the code of `text` into the item's square at the screen's pixel size,
// so modules stay sharp at any scale. `valid` is false when no code can be made (the row then hides).
class QrCodeItem : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
    Q_PROPERTY(bool valid READ valid NOTIFY textChanged)
public:
    explicit QrCodeItem(QQuickItem* parent = nullptr);
    QString text() const { return text_; }
    void setText(const QString& text);
    bool valid() const { return !matrix_.empty(); }
    void paint(QPainter* painter) override;

    // Registers the item for QML as DovrelAgent.QrCode.
    static void registerType();

signals:
    void textChanged();

private:
    QString text_;
    QrMatrix matrix_;
};

} // namespace dovrel::agent
