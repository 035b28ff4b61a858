#include "controller/services/LanDeviceIdRecorder.h"

namespace dovrel::controller {

LanDeviceIdRecorder::LanDeviceIdRecorder(WEXClient& client, DeviceStore& store, QObject* parent)
    : QObject(parent), client_(&client), store_(&store) {
    // The client publishes the agent's identifier before the phase that says the session is up.
    connect(&client, &WEXClient::phaseChanged, this, &LanDeviceIdRecorder::phaseChanged);
}

void LanDeviceIdRecorder::phaseChanged() {
    if (!client_ || !store_ || !machine_ || client_->phaseKind() != PhaseKind::connected) return;
    const QString id = client_->agentDeviceId();
    if (!id.isEmpty()) store_->recordDeviceId(*machine_, id);
}

} // namespace dovrel::controller
