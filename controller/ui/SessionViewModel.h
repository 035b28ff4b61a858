#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include "controller/client/Phase.h"
#include "controller/client/RemoteInput.h"
#include "controller/client/WEXClient.h"

namespace dovrel::controller {

// What the loading overlay shows for the state of the session being opened.
struct LoadingState {
    double progress = 0;
    QString message;
    QString errorText; // empty: none

    bool operator==(const LoadingState&) const = default;
};

// The overlay's values, first match wins: reconnecting, then by phase. `deviceName` names the machine
// in "Reaching …" (blanks and tabs trimmed; "that computer" when nothing is left).
LoadingState loadingStateFor(PhaseKind phase, const QString& rejection, bool reconnecting, const QString& deviceName);

// The session screen's state, read from the window's session client: the loading overlay's values and
// when it shows, and the status pill's link state and figures; and the remote input the capture item
// over the picture drives. Main thread.
class SessionViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The program makes the session screen's model.")
    Q_PROPERTY(dovrel::controller::WEXClient* client READ client CONSTANT)
    Q_PROPERTY(dovrel::controller::RemoteInput* input READ input CONSTANT)
    Q_PROPERTY(QString deviceName READ deviceName WRITE setDeviceName NOTIFY deviceNameChanged)
    Q_PROPERTY(bool demo READ demo WRITE setDemo NOTIFY demoChanged)
    Q_PROPERTY(double loadingProgress READ loadingProgress NOTIFY stateChanged)
    Q_PROPERTY(QString loadingMessage READ loadingMessage NOTIFY stateChanged)
    Q_PROPERTY(QString loadingError READ loadingError NOTIFY stateChanged)
    Q_PROPERTY(bool overlayShown READ overlayShown NOTIFY stateChanged)
    Q_PROPERTY(bool connected READ connected NOTIFY stateChanged)
    Q_PROPERTY(bool reconnecting READ reconnecting NOTIFY stateChanged)
    Q_PROPERTY(int latencyMs READ latencyMs NOTIFY stateChanged)
    Q_PROPERTY(int fps READ fps NOTIFY stateChanged)

public:
    SessionViewModel(WEXClient& client, RemoteInput& input, QObject* parent = nullptr);

    WEXClient* client() const { return client_; }
    RemoteInput* input() const { return input_; }
    QString deviceName() const { return deviceName_; }
    void setDeviceName(const QString& name);
    bool demo() const { return demo_; }
    void setDemo(bool on);

    double loadingProgress() const { return state().progress; }
    QString loadingMessage() const { return state().message; }
    QString loadingError() const { return state().errorText; }
    // Not in demo mode, and before the first picture or after a refusal.
    bool overlayShown() const;
    bool connected() const { return client_->phaseKind() == PhaseKind::connected; }
    bool reconnecting() const { return client_->reconnecting(); }
    int latencyMs() const { return client_->latencyMs(); }
    int fps() const { return client_->fps(); }

signals:
    void deviceNameChanged();
    void demoChanged();
    void stateChanged();

private:
    LoadingState state() const;

    QPointer<WEXClient> client_;
    QPointer<RemoteInput> input_;
    QString deviceName_;
    bool demo_ = false;
};

} // namespace dovrel::controller
