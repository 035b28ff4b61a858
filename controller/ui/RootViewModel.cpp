#include "controller/ui/RootViewModel.h"

namespace dovrel::controller {

namespace {
// The name of a machine reached from the command line before it is known by any other.
const QString automaticName = QStringLiteral("That computer");
} // namespace

RootViewModel::RootViewModel(SessionPort& session, LaunchArguments arguments, QObject* parent)
    : QObject(parent), session_(session), arguments_(std::move(arguments)) {
    connect(&session_, &SessionPort::phaseChanged, this, &RootViewModel::phaseChanged);
}

void RootViewModel::setRoute(Route route) {
    if (route == route_) return;
    route_ = route;
    emit routeChanged();
}

void RootViewModel::setActive(const QString& name, const std::optional<QString>& deviceId) {
    if (name == activeName_ && deviceId == activeDeviceId_) return;
    activeName_ = name;
    activeDeviceId_ = deviceId;
    emit activeChanged();
}

void RootViewModel::setDemoSession(bool on) {
    if (on == demoSession_) return;
    demoSession_ = on;
    emit demoSessionChanged();
}

void RootViewModel::setOpeningSession(bool on) {
    if (on == openingSession_) return;
    openingSession_ = on;
    emit openingSessionChanged();
}

void RootViewModel::appeared() { autoConnectIfRequested(); }

void RootViewModel::showPairing() { setRoute(Route::Pairing); }

void RootViewModel::cancelPairing() { setRoute(Route::Deck); }

void RootViewModel::endSession() {
    setDemoSession(false);
    setOpeningSession(false);
    session_.disconnectSession();
    setRoute(Route::Deck);
}

void RootViewModel::phaseChanged() {
    switch (session_.phase()) {
    case PhaseKind::needsCode:
        if (route_ == Route::Session) setRoute(Route::Pairing);
        break;
    case PhaseKind::connected:
        // A session opened without leaving the deck (the automatic ones) shows itself once it stands.
        if (openingSession_ && route_ != Route::Session) {
            setOpeningSession(false);
            setDemoSession(false);
            setRoute(Route::Session);
        }
        break;
    case PhaseKind::rejected:
    case PhaseKind::disconnected:
    case PhaseKind::connecting:
    case PhaseKind::handshaking: break;
    }
}

void RootViewModel::autoConnectIfRequested() {
    const QString code = arguments_.pairingCode.value_or(QString());
    switch (arguments_.autoConnect()) {
    case LaunchArguments::AutoConnect::host:
        setActive(automaticName, std::nullopt);
        setDemoSession(false);
        setOpeningSession(true);
        session_.connectToHost(*arguments_.autoHost, code);
        break;
    case LaunchArguments::AutoConnect::relay:
        setActive(automaticName, *arguments_.autoRelay);
        setDemoSession(false);
        setOpeningSession(true);
        session_.connectViaRelay(
            RelayDial{arguments_.autoRelay->toStdString(), automaticName.toStdString(), {}, {}, {}}, code);
        break;
    case LaunchArguments::AutoConnect::link:
    case LaunchArguments::AutoConnect::none: break;
    }
}

} // namespace dovrel::controller
