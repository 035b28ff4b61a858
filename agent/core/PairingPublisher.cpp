#include "agent/core/PairingPublisher.h"

#include "agent/core/PairingLink.h"

namespace dovrel::agent {

std::string PairingPublisher::linkFor(const std::string& ip, const std::string& mac, const std::string& code,
                                      const wex::RelayIdentity& relay, const std::string& grantQuery) const {
    return buildPairingLink({device_.lanEnabled ? std::optional(ip) : std::nullopt, code, device_.name, mac, device_.id,
                             relay.host, relay.port, grantQuery});
}

void PairingPublisher::fill(Published& p, const std::string& code, const wex::RelayIdentity& relay,
                            const std::string& grantQuery) const {
    p.lanIP = pairingLinkHost(address_->lanIP());
    if (auto mac = address_->mac()) p.mac = std::move(*mac);
    p.link = linkFor(p.lanIP, p.mac, code, relay, grantQuery);
}

PairingPublisher::Published PairingPublisher::build(const std::string& code, const wex::RelayIdentity& relay,
                                                    const std::string& grantQuery) const {
    Published p;
    fill(p, code, relay, grantQuery);
    return p;
}

const std::string& PairingPublisher::rebuild(const std::string& code, const wex::RelayIdentity& relay,
                                             const std::string& grantQuery) {
    // Read afresh: an agent started before the network came up must not keep naming 127.0.0.1, nor a
    // machine that moved to another network its old address.
    fill(*published_, code, relay, grantQuery);
    return published_->link;
}

} // namespace dovrel::agent
