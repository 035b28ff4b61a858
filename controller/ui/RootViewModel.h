#pragma once

#include <optional>

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include "controller/ui/LaunchArguments.h"
#include "controller/ui/SessionPort.h"

namespace dovrel::controller {

// The window's root: which screen fills it (the deck, the pairing screen or the session), the machine
// of the current or last session, and the automatic connection the launch arguments ask for. It turns
// the screens' results into calls on the session client and follows the client's phase between
// screens. Main thread.
class RootViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The program makes the one root of its window.")
    Q_PROPERTY(Route route READ route NOTIFY routeChanged)
    Q_PROPERTY(QString activeName READ activeName NOTIFY activeChanged)
    Q_PROPERTY(QString activeDeviceId READ activeDeviceIdForView NOTIFY activeChanged)
    Q_PROPERTY(bool demoSession READ demoSession NOTIFY demoSessionChanged)
    Q_PROPERTY(bool openingSession READ openingSession NOTIFY openingSessionChanged)
    Q_PROPERTY(bool demo READ demo CONSTANT)

public:
    enum class Route { Deck, Pairing, Session };
    Q_ENUM(Route)

    RootViewModel(SessionPort& session, LaunchArguments arguments, QObject* parent = nullptr);

    Route route() const { return route_; }
    QString activeName() const { return activeName_; }
    const std::optional<QString>& activeDeviceId() const { return activeDeviceId_; }
    QString activeDeviceIdForView() const { return activeDeviceId_.value_or(QString()); }
    bool demoSession() const { return demoSession_; }
    bool openingSession() const { return openingSession_; }
    bool demo() const { return arguments_.demo; }

    // The window was shown: starts the automatic connection the launch arguments ask for.
    Q_INVOKABLE void appeared();
    // The deck's pair action, and the pairing screen's cancel (which leaves any session alone).
    Q_INVOKABLE void showPairing();
    Q_INVOKABLE void cancelPairing();
    // The session screen's exit.
    Q_INVOKABLE void endSession();

signals:
    void routeChanged();
    void activeChanged();
    void demoSessionChanged();
    void openingSessionChanged();

private:
    void setRoute(Route route);
    void setActive(const QString& name, const std::optional<QString>& deviceId);
    void setDemoSession(bool on);
    void setOpeningSession(bool on);
    void phaseChanged();
    void autoConnectIfRequested();

    SessionPort& session_;
    LaunchArguments arguments_;
    Route route_ = Route::Deck;
    QString activeName_ = QStringLiteral("that computer");
    std::optional<QString> activeDeviceId_;
    bool demoSession_ = false;
    bool openingSession_ = false;
};

} // namespace dovrel::controller
