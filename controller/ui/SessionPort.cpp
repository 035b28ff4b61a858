#include "controller/ui/SessionPort.h"

namespace dovrel::controller {

ClientSessionPort::ClientSessionPort(WEXClient& client, QObject* parent) : SessionPort(parent), client_(client) {
    connect(&client_, &WEXClient::phaseChanged, this, &SessionPort::phaseChanged);
    connect(&client_, &WEXClient::deckStatChanged, this, [this] {
        if (const auto& stat = client_.deckStat()) emit deckStatArrived(*stat);
    });
}

void ClientSessionPort::connectToHost(const QString& host, const QString& code) { client_.connectToHost(host, code); }

void ClientSessionPort::connectViaRelay(const RelayDial& dial, const QString& code) {
    client_.connectViaRelay(dial, code.toStdString());
}

void ClientSessionPort::revokePairing(const RevokeTarget& t) {
    client_.revokePairing(t.deviceId, t.host, t.name, t.relayAccount, t.relayToken, t.relayHost, [](bool) {});
}

} // namespace dovrel::controller
