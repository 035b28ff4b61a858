#include "controller/services/MachineRecorder.h"

namespace dovrel::controller {

Device pairedMachine(const std::optional<Device>& saved, const PendingMachine& pending, bool viaRelay,
                     const QString& agentDeviceId) {
    // What the deck knew of it (statistics, frost) stays; what the pairing says replaces it.
    Device d = saved ? *saved : pending.machine;
    d.name = pending.machine.name;
    d.kind = pending.machine.kind;
    if (present(pending.machine.mac)) d.mac = pending.machine.mac;
    d.state = Device::State::awake;
    d.agentStopped = false;
    d.lastSeen = QStringLiteral("now");
    if (!viaRelay) {
        if (!pending.host.isEmpty()) d.host = pending.host;
    } else if (present(pending.relayAccount) && present(pending.relayToken) && present(pending.relayHost)) {
        d.relayAccount = pending.relayAccount;
        d.relayToken = pending.relayToken;
        d.relayHost = pending.relayHost;
    } else if (!saved) {
        d.relayAccount = nonEmpty(pending.relayAccount);
        d.relayToken = nonEmpty(pending.relayToken);
        d.relayHost = nonEmpty(pending.relayHost);
    }
    // The identifier the handshake proved is the agent's, whichever way reached it.
    if (!agentDeviceId.isEmpty()) d.deviceId = agentDeviceId;
    return d;
}

MachineRecorder::MachineRecorder(WEXClient& client, DeviceStore& store, QObject* parent)
    : QObject(parent), client_(&client), store_(&store) {
    // The client publishes the agent's identifier and the way it took before the phase that says the
    // session is up.
    connect(&client, &WEXClient::phaseChanged, this, &MachineRecorder::phaseChanged);
}

void MachineRecorder::phaseChanged() {
    // An attempt that fails never gets here; every later one says anew what it would save.
    if (!client_ || !store_ || !pending_ || client_->phaseKind() != PhaseKind::connected) return;
    const PendingMachine pending = std::move(*pending_);
    pending_.reset();
    const QString id = client_->agentDeviceId();
    if (!pending.pairing) {
        store_->recordDeviceId(pending.machine.id, id);
        return;
    }
    const Device* found = store_->find(pending.machine.id);
    store_->putFirst(
        pairedMachine(found ? std::optional<Device>(*found) : std::nullopt, pending, client_->sessionViaRelay(), id));
    store_->save();
}

} // namespace dovrel::controller
