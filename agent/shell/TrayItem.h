#pragma once

#include <memory>

#include <QIcon>
#include <QSystemTrayIcon>

namespace dovrel::agent {

// The star in the desktop's tray, in the brand green (never tinted like a symbolic icon). Clicking it
// opens the window. Needs a QApplication.
class TrayItem : public QObject {
    Q_OBJECT
public:
    TrayItem();
    ~TrayItem() override;
    // The desktop shows a tray at all (GNOME does not without an extension, a bare X server never).
    static bool trayAvailable();
    // The star at the sizes panels ask for, inset as the menu-bar star is (1 in 18).
    static QIcon starIcon();
    void show();

signals:
    void activated();

private:
    std::unique_ptr<QSystemTrayIcon> icon_;
};

} // namespace dovrel::agent
