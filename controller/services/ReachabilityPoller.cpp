#include "controller/services/ReachabilityPoller.h"

#include <map>

#include "controller/services/LanScope.h"

namespace dovrel::controller {

ReachabilityPoller::ReachabilityPoller(DeviceStore& store, Scheduler& clock, std::shared_ptr<ReachabilityProbe> probe,
                                       std::shared_ptr<NetworkInterfaces> interfaces, std::shared_ptr<AccountApi> api,
                                       std::shared_ptr<RelayAccount> account, bool demo, uint16_t probePort,
                                       QObject* parent)
    : QObject(parent), store_(&store), clock_(clock), probe_(std::move(probe)), interfaces_(std::move(interfaces)),
      api_(std::move(api)), account_(std::move(account)), demo_(demo), probePort_(probePort) {}

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

void ReachabilityPoller::pollOnce() {
    if (!store_) return;
    for (const Device& d : store_->devices()) {
        if (d.host.isEmpty()) continue;
        // A relay machine off this network is the presence query's to look after.
        if (d.deviceId && !LanScope::isLocal(d.host, *interfaces_)) continue;
        probe_->probe(d.host.toStdString(), probePort_, probeTimeout,
                      [self = QPointer(this), id = d.id, host = d.host](bool reachable) {
                          if (!self || !self->store_) return;
                          const Device* now = self->store_->find(id);
                          // Re-paired at another address meanwhile: this answer is about the old one.
                          if (!now || now->host != host) return;
                          self->store_->setLiveness(id, reachable);
                      });
    }
}

void ReachabilityPoller::pollPresence() {
    if (!store_) return;
    const auto session = account_->current();
    std::map<QString, QString> tokenOf; // account -> token
    std::map<QUuid, QString> accountOf; // machine id -> account
    for (const Device& d : store_->devices()) {
        if (!d.deviceId || LanScope::isLocal(d.host, *interfaces_)) continue;
        QString account, token;
        if (d.relayAccount && d.relayToken && !d.relayAccount->isEmpty() && !d.relayToken->isEmpty()) {
            account = *d.relayAccount;
            token = *d.relayToken;
        } else if (session) {
            account = session->account;
            token = session->token;
        } else {
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
            for (const auto& [id, awake] : found)
                self->store_->setLiveness(id, awake);
        });
    }
}

} // namespace dovrel::controller
