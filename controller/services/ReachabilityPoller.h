#pragma once

#include <cstdint>
#include <memory>

#include <QObject>
#include <QPointer>

#include "controller/platform/NetworkInterfaces.h"
#include "controller/platform/ReachabilityProbe.h"
#include "controller/services/AccountApi.h"
#include "controller/services/DeviceStore.h"
#include "controller/services/RelayAccount.h"
#include "protocol/WEXConstants.h"
#include "runtime/Scheduler.h"

namespace dovrel::controller {

// Keeps the saved machines' state fresh without opening sessions: every 4 s a TCP probe of each
// machine that can be reached on the local network, and on every second tick one presence query per
// relay account for the machines reached through the relay. Answers are applied by the machine's id
// when they arrive, to its state alone, so a machine renamed, removed or re-added meanwhile keeps what
// the user did. Every failure is silent. Main thread only.
class ReachabilityPoller : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::seconds interval{4};
    static constexpr std::chrono::milliseconds probeTimeout{2500};

    ReachabilityPoller(DeviceStore& store, Scheduler& clock, std::shared_ptr<ReachabilityProbe> probe,
                       std::shared_ptr<NetworkInterfaces> interfaces, std::shared_ptr<AccountApi> api,
                       std::shared_ptr<RelayAccount> account, bool demo, uint16_t probePort = wex::WEX::inputPort,
                       QObject* parent = nullptr);

    // Starts, or restarts from tick 0, with an immediate pass; nothing in demo mode.
    void start();
    int64_t tick() const { return tick_; }

private:
    void pollOnce();
    void pollPresence();

    QPointer<DeviceStore> store_;
    Scheduler& clock_;
    std::shared_ptr<ReachabilityProbe> probe_;
    std::shared_ptr<NetworkInterfaces> interfaces_;
    std::shared_ptr<AccountApi> api_;
    std::shared_ptr<RelayAccount> account_;
    bool demo_;
    uint16_t probePort_;
    std::unique_ptr<Timer> timer_;
    int64_t tick_ = 0;
};

} // namespace dovrel::controller
