#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QPalette>

#include "controller/platform/ColorSchemeSource.h"

namespace dovrel::controller {

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString schemeKey = QStringLiteral("color-scheme");

// The portal's value: 0 no preference, 1 prefers dark, 2 prefers light. Read() wraps it in one more
// variant than the change signal does.
int schemeValue(QVariant v) {
    while (v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>())
        v = qvariant_cast<QDBusVariant>(v).variant();
    bool ok = false;
    const uint value = v.toUInt(&ok);
    return ok ? static_cast<int>(value) : 0;
}

class DesktopColorScheme final : public ColorSchemeSource {
    Q_OBJECT

public:
    explicit DesktopColorScheme(const QString& busAddress) {
        // Without a portal's preference the palette decides, so its changes count too.
        if (qApp) qApp->installEventFilter(this);
        QDBusConnection bus = busAddress.isEmpty()
                                  ? QDBusConnection::sessionBus()
                                  : QDBusConnection::connectToBus(busAddress, QStringLiteral("dovrel.colorscheme"));
        if (!bus.isConnected()) return;
        // The slot's argument type is looked up by name: it has to be known by name first.
        qRegisterMetaType<QDBusVariant>();
        bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), this,
                    SLOT(settingChanged(QString, QString, QDBusVariant)));
        QDBusMessage read =
            QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface, QStringLiteral("Read"));
        read << appearanceNamespace << schemeKey;
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read, 3000), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
            const QDBusPendingReply<QVariant> reply = *w;
            if (!reply.isError()) setPortalValue(schemeValue(reply.value()));
            w->deleteLater();
        });
    }

    ColorScheme current() const override {
        if (portal_ == 1) return ColorScheme::dark;
        if (portal_ == 2) return ColorScheme::light;
        const QColor window = QGuiApplication::palette().color(QPalette::Window);
        return window.lightness() < 128 ? ColorScheme::dark : ColorScheme::light;
    }

    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::ApplicationPaletteChange && portal_ == 0) emit changed();
        return ColorSchemeSource::eventFilter(watched, e);
    }

private slots:
    void settingChanged(const QString& ns, const QString& key, const QDBusVariant& value) {
        if (ns == appearanceNamespace && key == schemeKey) setPortalValue(schemeValue(value.variant()));
    }

private:
    void setPortalValue(int value) {
        if (value == portal_) return;
        portal_ = value;
        emit changed();
    }

    int portal_ = 0;
};

} // namespace

std::unique_ptr<ColorSchemeSource> makeDesktopColorScheme(const QString& busAddress) {
    return std::make_unique<DesktopColorScheme>(busAddress);
}

} // namespace dovrel::controller

#include "DesktopColorScheme.moc"
