#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QString>
#include <QUuid>

#include "controller/client/input/RemoteInput.h"
#include "controller/client/session/Phase.h"
#include "controller/client/session/WEXClient.h"
#include "controller/services/DeviceStore.h"
#include "controller/services/MachineRecorder.h"
#include "protocol/ControlMessages.h"

namespace dovrel::controller {

// A saved machine whose pairing is being revoked: what the client needs to tell its agent, and the
// ways to it a session would take (the host first, the relay when set).
struct RevokeTarget {
    std::optional<std::string> deviceId;
    std::string host;
    std::string name;
    std::optional<RelayDial> relay; // its token is a secret: never logged
};

// What the root view asks of the window's session client and hears back from it. The program's one
// implementation drives a WEXClient; tests record the calls and play phases. Main thread.
class SessionPort : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    virtual PhaseKind phase() const = 0;
    // A pairing code, when not empty, goes with the dial so that the handshake sees exactly it.
    virtual void connectToHost(const QString& host, const QString& code) = 0;
    // A machine called `name` on the local network at `host`; with `relay`, through the relay instead
    // when the host does not answer.
    virtual void connectToMachine(const QString& host, const QString& name, const std::optional<RelayDial>& relay,
                                  const QString& code) = 0;
    virtual void connectViaRelay(const RelayDial& dial, const QString& code) = 0;
    virtual void disconnectSession() = 0;
    virtual void startDemo() = 0;
    // The kind of machine the next session reaches (nothing: not known): Windows gets its own wheel and
    // notices, and Windows and Linux take Control where a Mac takes Command in the shortcuts sent for
    // the user; an unknown kind gets the wheel's words that fit every desktop.
    virtual void setTargetKind(std::optional<Device::Kind> kind) = 0;
    // `done` is called once, on the main thread, with how far the machine's agent was told; never for
    // a machine this computer holds no key for.
    virtual void revokePairing(const RevokeTarget& target, std::function<void(UnpairOutcome)> done) = 0;
    // What the next session saves once it stands: a machine being paired, or a card being opened; or
    // nothing.
    virtual void nextSessionSaves(std::optional<PendingMachine> machine) = 0;
    // The identifier the last established session's agent proved (empty before one).
    virtual QString agentDeviceId() const = 0;
    // Why the last attempt was refused, and what of its dial that concerns; empty and none while it was not.
    virtual QString refusal() const = 0;
    virtual RefusedPart refusedPart() const = 0;
    // What the keychain said when it could not give back this computer's identity; none when it could
    // (or has not answered yet).
    virtual std::optional<QString> identityProblem() const { return std::nullopt; }

signals:
    void phaseChanged();
    void identityProblemChanged();
    // A statistics report of the agent arrived.
    void deckStatArrived(const wex::DeckStat& stat);
};

// The session port of the program: the window's WEXClient.
class ClientSessionPort final : public SessionPort {
    Q_OBJECT

public:
    ClientSessionPort(WEXClient& client, RemoteInput& input, DeviceStore& store, QObject* parent = nullptr);
    ~ClientSessionPort() override;

    PhaseKind phase() const override { return client_.phaseKind(); }
    void connectToHost(const QString& host, const QString& code) override;
    void connectToMachine(const QString& host, const QString& name, const std::optional<RelayDial>& relay,
                          const QString& code) override;
    void connectViaRelay(const RelayDial& dial, const QString& code) override;
    void disconnectSession() override { client_.disconnectSession(); }
    void startDemo() override;
    void setTargetKind(std::optional<Device::Kind> kind) override;
    void revokePairing(const RevokeTarget& target, std::function<void(UnpairOutcome)> done) override;
    void nextSessionSaves(std::optional<PendingMachine> machine) override;
    QString agentDeviceId() const override { return client_.agentDeviceId(); }
    QString refusal() const override {
        return client_.phaseKind() == PhaseKind::rejected ? client_.phaseMessage() : QString();
    }
    RefusedPart refusedPart() const override {
        return client_.phaseKind() == PhaseKind::rejected ? client_.refusedPart() : RefusedPart::none;
    }
    std::optional<QString> identityProblem() const override { return client_.identityProblem(); }

private:
    WEXClient& client_;
    RemoteInput& input_;
    std::unique_ptr<MachineRecorder> recorder_;
};

} // namespace dovrel::controller
