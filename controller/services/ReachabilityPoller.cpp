#include "controller/services/ReachabilityPoller.h"

#include <set>

#include "controller/client/session/Endpoints.h"

namespace dovrel::controller {

ReachabilityPoller::ReachabilityPoller(DeviceStore& store, Scheduler& clock, std::shared_ptr<ReachabilityProbe> probe,
                                       std::shared_ptr<AccountApi> api, std::shared_ptr<RelayAccount> account,
                                       bool demo, uint16_t probePort, QObject* parent)
    : QObject(parent), store_(&store), clock_(clock), probe_(std::move(probe)), api_(std::move(api)),
      account_(std::move(account)), demo_(demo), probePort_(probePort) {}

void ReachabilityPoller::start() {
    if (demo_) return;
    timer_.reset();
    tick_ = 0;
    pollOnce();
    pollPresence();
    timer_ = clock_.every(interval, interval, [self = QPointer(this)] {
        if (!self) return;
        self->pollOnce();
        if (++self->tick_ % 2 == 0) self->pollPresence();
    });
}

void ReachabilityPoller::apply(const QUuid& id, const Heard& h) {
    if (!h.probe && !h.presence) return;
    using Liveness = DeviceStore::Liveness;
    if (h.probe == ProbeAnswer::accepted || h.presence == true)
        store_->setLiveness(id, Liveness::awake);
    else if (h.probe == ProbeAnswer::refused)
        store_->setLiveness(id, Liveness::agentStopped);
    else
        store_->setLiveness(id, Liveness::asleep);
}

void ReachabilityPoller::pollOnce() {
    if (!store_) return;
    std::set<QUuid> present;
    for (const Device& d : store_->devices()) {
        present.insert(d.id);
        if (d.host.isEmpty()) {
            heard_[d.id].probe.reset();
            continue;
        }
        const LanTarget target = parseLanTarget(d.host.toStdString());
        probe_->probe(target.host, target.port.value_or(probePort_), probeTimeout,
                      [self = QPointer(this), id = d.id, host = d.host](ProbeAnswer answer) {
                          if (!self || !self->store_) return;
                          const Device* now = self->store_->find(id);
                          // Re-paired at another address meanwhile: this answer is about the old one.
                          if (!now || now->host != host) return;
                          Heard& h = self->heard_[id];
                          h.probe = answer;
                          self->apply(id, h);
                      });
    }
    std::erase_if(heard_, [&](const auto& entry) { return !present.contains(entry.first); });
}

void ReachabilityPoller::pollPresence() {
    if (!store_) return;
    const auto session = account_->current();
    std::map<QString, QString> tokenOf; // account -> token
    std::map<QUuid, QString> accountOf; // machine id -> account
    for (const Device& d : store_->devices()) {
        if (!d.deviceId) continue;
        QString account, token;
        if (d.relayAccount && d.relayToken && !d.relayAccount->isEmpty() && !d.relayToken->isEmpty()) {
            account = *d.relayAccount;
            token = *d.relayToken;
        } else if (session) {
            account = session->account;
            token = session->token;
        } else {
            // Nobody to ask for it any more: what an earlier query said no longer counts.
            if (const auto h = heard_.find(d.id); h != heard_.end() && h->second.presence) {
                h->second.presence.reset();
                apply(d.id, h->second);
            }
            continue;
        }
        tokenOf[account] = token;
        accountOf[d.id] = account;
    }
    for (const auto& [account, token] : tokenOf) {
        api_->presence(token, [self = QPointer(this), account, accountOf](const ApiResult<std::set<QString>>& live) {
            if (!self || !self->store_ || !live.isOk()) return;
            // Machines added after this pass built its maps are not this answer's business.
            std::vector<std::pair<QUuid, bool>> found;
            for (const Device& d : self->store_->devices()) {
                const auto mapped = accountOf.find(d.id);
                if (mapped == accountOf.end() || mapped->second != account || !d.deviceId) continue;
                found.emplace_back(d.id, live.value->count(d.deviceId->toLower()) != 0);
            }
            for (const auto& [id, awake] : found) {
                Heard& h = self->heard_[id];
                h.presence = awake;
                self->apply(id, h);
            }
        });
    }
}

} // namespace dovrel::controller
