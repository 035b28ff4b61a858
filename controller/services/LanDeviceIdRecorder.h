#pragma once

#include <optional>

#include <QObject>
#include <QPointer>
#include <QUuid>

#include "controller/client/WEXClient.h"
#include "controller/services/DeviceStore.h"

namespace dovrel::controller {

// A machine paired on the local network learns its agent's device identifier only from the
// handshake; without it the machine could later be neither unpaired at the agent nor have its key
// forgotten. This keeps the identifier the client learnt on the saved machine, and saves the list,
// each time a session opened on the local network is established. Main thread only.
class LanDeviceIdRecorder : public QObject {
    Q_OBJECT

public:
    LanDeviceIdRecorder(WEXClient& client, DeviceStore& store, QObject* parent = nullptr);

    // The next established session is with this saved machine, dialled on the local network.
    void lanSessionOpening(const QUuid& machine) { machine_ = machine; }
    // The next session is of another kind (through the relay, a demo): nothing to learn.
    void otherSessionOpening() { machine_.reset(); }

private:
    void phaseChanged();

    QPointer<WEXClient> client_;
    QPointer<DeviceStore> store_;
    std::optional<QUuid> machine_;
};

} // namespace dovrel::controller
