#include "controller/ui/session/SessionPort.h"

namespace dovrel::controller {

ClientSessionPort::ClientSessionPort(WEXClient& client, RemoteInput& input, DeviceStore& store, QObject* parent)
    : SessionPort(parent), client_(client), input_(input), recorder_(std::make_unique<MachineRecorder>(client, store)) {
    connect(&client_, &WEXClient::phaseChanged, this, &SessionPort::phaseChanged);
    connect(&client_, &WEXClient::identityProblemChanged, this, &SessionPort::identityProblemChanged);
    connect(&client_, &WEXClient::deckStatChanged, this, [this] {
        if (const auto& stat = client_.deckStat()) emit deckStatArrived(*stat);
    });
}

void ClientSessionPort::connectToHost(const QString& host, const QString& code) { client_.connectToHost(host, code); }

void ClientSessionPort::connectToMachine(const QString& host, const QString& name,
                                         const std::optional<RelayDial>& relay, const QString& code) {
    client_.connectToMachine(host, name, relay, code);
}

void ClientSessionPort::connectViaRelay(const RelayDial& dial, const QString& code) {
    client_.connectViaRelay(dial, code.toStdString());
}

ClientSessionPort::~ClientSessionPort() = default;

void ClientSessionPort::startDemo() {
    recorder_->otherSessionOpening();
    client_.startDemo();
}

void ClientSessionPort::setTargetKind(std::optional<Device::Kind> kind) {
    client_.setTargetKind(kind ? kindText(*kind) : QString());
    if (!kind) return;
    switch (*kind) {
    case Device::Kind::mac: input_.setTargetKind(TargetKind::mac); return;
    case Device::Kind::windows: input_.setTargetKind(TargetKind::windows); return;
    case Device::Kind::linux: input_.setTargetKind(TargetKind::linuxDesktop); return;
    }
}

void ClientSessionPort::nextSessionSaves(std::optional<PendingMachine> machine) {
    if (machine)
        recorder_->sessionOpening(std::move(*machine));
    else
        recorder_->otherSessionOpening();
}

void ClientSessionPort::revokePairing(const RevokeTarget& t, std::function<void(UnpairOutcome)> done) {
    if (!t.deviceId) return;
    // The session that tells the agent saves nothing.
    recorder_->otherSessionOpening();
    client_.revokePairing(*t.deviceId, t.host, t.name, t.relay, std::move(done));
}

} // namespace dovrel::controller
