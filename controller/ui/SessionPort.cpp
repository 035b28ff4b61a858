#include "controller/ui/SessionPort.h"

namespace dovrel::controller {

ClientSessionPort::ClientSessionPort(WEXClient& client, RemoteInput& input, DeviceStore& store, QObject* parent)
    : SessionPort(parent), client_(client), input_(input),
      recorder_(std::make_unique<LanDeviceIdRecorder>(client, store)) {
    connect(&client_, &WEXClient::phaseChanged, this, &SessionPort::phaseChanged);
    connect(&client_, &WEXClient::identityProblemChanged, this, &SessionPort::identityProblemChanged);
    connect(&client_, &WEXClient::deckStatChanged, this, [this] {
        if (const auto& stat = client_.deckStat()) emit deckStatArrived(*stat);
    });
}

void ClientSessionPort::connectToHost(const QString& host, const QString& code) { client_.connectToHost(host, code); }

void ClientSessionPort::connectViaRelay(const RelayDial& dial, const QString& code) {
    client_.connectViaRelay(dial, code.toStdString());
}

ClientSessionPort::~ClientSessionPort() = default;

void ClientSessionPort::setTargetKind(Device::Kind kind) {
    client_.setTargetIsWindows(kind == Device::Kind::windows);
    switch (kind) {
    case Device::Kind::mac: input_.setTargetKind(TargetKind::mac); return;
    case Device::Kind::windows: input_.setTargetKind(TargetKind::windows); return;
    case Device::Kind::linux: input_.setTargetKind(TargetKind::linuxDesktop); return;
    }
}

void ClientSessionPort::nextSessionWith(const std::optional<QUuid>& lanMachine) {
    if (lanMachine)
        recorder_->lanSessionOpening(*lanMachine);
    else
        recorder_->otherSessionOpening();
}

void ClientSessionPort::revokePairing(const RevokeTarget& t) {
    client_.revokePairing(t.deviceId, t.host, t.name, t.relayAccount, t.relayToken, t.relayHost, [](bool) {});
}

} // namespace dovrel::controller
