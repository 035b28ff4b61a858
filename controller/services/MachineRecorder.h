#pragma once

#include <optional>

#include <QObject>
#include <QPointer>
#include <QString>

#include "controller/client/session/WEXClient.h"
#include "controller/services/DeviceStore.h"

namespace dovrel::controller {

// What a session that succeeds writes into the saved machines. A machine is saved, or its entry
// updated, only once a session with it stands, and with the way that worked: the host on the local
// network, or the relay and its credentials. A failed attempt leaves the deck as it was, so no card
// claims a machine is awake, or keeps a way that never worked, because of it.
struct PendingMachine {
    // The machine as a pairing names it (a saved one keeps its id): its name, kind and hardware address.
    Device machine;
    // A pairing result goes to the front of the deck with everything above; a card that was opened only
    // learns its agent's identifier (so that it can be unpaired later) and stays where it is.
    bool pairing = true;
    // The ways being tried: the host on the local network (empty: none), and the relay's credentials.
    QString host;
    std::optional<QString> relayAccount;
    std::optional<QString> relayToken; // a secret: never logged
    std::optional<QString> relayHost;
};

// Applies the pending machine when the client's session is established, once. Main thread only.
class MachineRecorder : public QObject {
    Q_OBJECT

public:
    MachineRecorder(WEXClient& client, DeviceStore& store, QObject* parent = nullptr);

    // The next established session saves this machine.
    void sessionOpening(PendingMachine pending) { pending_ = std::move(pending); }
    // The next session saves nothing (a demo, an unpair, a machine reached by command line).
    void otherSessionOpening() { pending_.reset(); }

private:
    void phaseChanged();

    QPointer<WEXClient> client_;
    QPointer<DeviceStore> store_;
    std::optional<PendingMachine> pending_;
};

// The entry a pairing session writes: `saved` is the machine's entry as it stands, if any; `viaRelay`
// and `agentDeviceId` are what the established session proved.
Device pairedMachine(const std::optional<Device>& saved, const PendingMachine& pending, bool viaRelay,
                     const QString& agentDeviceId);

} // namespace dovrel::controller
