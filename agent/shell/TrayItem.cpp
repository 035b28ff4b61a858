#include "agent/shell/TrayItem.h"

#include <QPixmap>

#include "brand/StarMark.h"

namespace dovrel::agent {

TrayItem::TrayItem() : icon_(std::make_unique<QSystemTrayIcon>(starIcon())) {
    icon_->setToolTip(QStringLiteral("DOVRELÆ"));
    connect(icon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) emit activated();
    });
}

TrayItem::~TrayItem() = default;

bool TrayItem::trayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

QIcon TrayItem::starIcon() {
    QIcon icon;
    for (const int side : {16, 18, 22, 24, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(brand::starImage(side, side / 18.0)));
    return icon;
}

void TrayItem::show() { icon_->show(); }

} // namespace dovrel::agent
