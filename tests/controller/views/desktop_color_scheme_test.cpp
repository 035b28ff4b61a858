// The desktop's colour scheme from a portal on a private session bus: the first answer, its changes,
// and other settings' changes ignored.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include "../../support/SessionBus.h"
#include "ViewTestSupport.h"
#include "controller/platform/ColorSchemeSource.h"

using namespace dovrel::controller;

namespace {

const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString iface = QStringLiteral("org.freedesktop.portal.Settings");

// The settings portal's Read, answering the appearance's colour scheme (1 dark, 2 light).
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    uint scheme = 1;

public slots:
    QDBusVariant Read(const QString& ns, const QString& key) {
        if (ns != QLatin1String("org.freedesktop.appearance") || key != QLatin1String("color-scheme"))
            return QDBusVariant(QVariant::fromValue(QDBusVariant(QString())));
        // The portal wraps the value in one more variant than its change signal does.
        return QDBusVariant(QVariant::fromValue(QDBusVariant(scheme)));
    }
};

void changeSetting(QDBusConnection& bus, const QString& ns, const QString& key, uint value) {
    QDBusMessage signal = QDBusMessage::createSignal(path, iface, QStringLiteral("SettingChanged"));
    signal << ns << key << QVariant::fromValue(QDBusVariant(value));
    bus.send(signal);
}

} // namespace

TEST(DesktopColorSchemeTest, FollowsThePortalsColorScheme) {
    test::viewApp();
    dovrel::test::SessionBus bus;
    if (!bus.available()) GTEST_SKIP() << bus.reason();
    QDBusConnection service = QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "fake-portal");
    ASSERT_TRUE(service.isConnected());
    FakePortal portal;
    ASSERT_TRUE(service.registerObject(path, &portal, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));

    auto scheme = makeDesktopColorScheme(QString::fromStdString(bus.address()));
    QSignalSpy changed(scheme.get(), &ColorSchemeSource::changed);
    ASSERT_TRUE(changed.wait(5000)) << "the portal's first answer";
    EXPECT_EQ(scheme->current(), ColorScheme::dark);

    changeSetting(service, QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"), 2);
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_EQ(scheme->current(), ColorScheme::light);

    changeSetting(service, QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("color-scheme"), 1);
    changeSetting(service, QStringLiteral("org.freedesktop.appearance"), QStringLiteral("accent-color"), 1);
    EXPECT_FALSE(changed.wait(300));
    EXPECT_EQ(scheme->current(), ColorScheme::light);
}

#include "desktop_color_scheme_test.moc"
