#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include <QObject>
#include <QPointer>
#include <QUuid>

#include "controller/platform/ReachabilityProbe.h"
#include "controller/services/AccountApi.h"
#include "controller/services/DeviceStore.h"
#include "controller/services/RelayAccount.h"
#include "protocol/WEXConstants.h"
#include "runtime/Scheduler.h"

namespace dovrel::controller {

// Keeps the saved machines' state fresh without opening sessions: every 4 s a TCP probe of the agent's
// control port on each machine that has a host ("host:port" is probed on its own port), and on every
// second tick one presence query per relay account for the machines that have a relay room. A machine
// with both is asked both ways: it is awake when either answer says so, and asleep once every way it
// was asked says not. An accepted connection means DOVRELÆ runs there; a refused one that the computer
// is up but DOVRELÆ is not running on it (unless the relay says it is there); silence that it is not
// up. Answers are applied by the machine's id when they arrive, to its state alone, so a machine
// renamed, removed or re-added meanwhile keeps what the user did. Every failure is silent. Main thread
// only.
class ReachabilityPoller : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::seconds interval{4};
    static constexpr std::chrono::milliseconds probeTimeout{2500};

    // `probePort`: the agent's control port, probed on a host that names none.
    ReachabilityPoller(DeviceStore& store, Scheduler& clock, std::shared_ptr<ReachabilityProbe> probe,
                       std::shared_ptr<AccountApi> api, std::shared_ptr<RelayAccount> account, bool demo,
                       uint16_t probePort = wex::WEX::controlPort, QObject* parent = nullptr);

    // Starts, or restarts from tick 0, with an immediate pass; nothing in demo mode.
    void start();
    int64_t tick() const { return tick_; }

private:
    // What each way of asking last said about a machine; nothing where it was not asked.
    struct Heard {
        std::optional<ProbeAnswer> probe;
        std::optional<bool> presence;
    };

    void pollOnce();
    void pollPresence();
    // Puts what a machine's ways of asking last said, taken together, into the store.
    void apply(const QUuid& id, const Heard& h);

    QPointer<DeviceStore> store_;
    Scheduler& clock_;
    std::shared_ptr<ReachabilityProbe> probe_;
    std::shared_ptr<AccountApi> api_;
    std::shared_ptr<RelayAccount> account_;
    bool demo_;
    uint16_t probePort_;
    std::unique_ptr<Timer> timer_;
    int64_t tick_ = 0;
    std::map<QUuid, Heard> heard_;
};

} // namespace dovrel::controller
