#include "agent/core/PairingPublisher.h"

#include "agent/core/PairingLink.h"

namespace dovrel::agent {

std::string PairingPublisher::linkFor(const std::string& ip, const std::string& mac, const std::string& code,
                                      const wex::RelayIdentity& relay, const std::string& grantQuery) const {
    return buildPairingLink({device_.lanEnabled ? std::optional(ip) : std::nullopt, code, device_.name, mac, device_.id,
                             relay.host, relay.port, grantQuery});
}

PairingPublisher::Published PairingPublisher::build(const std::string& code, const wex::RelayIdentity& relay,
                                                    const std::string& grantQuery) const {
    Published p;
    p.lanIP = pairingLinkHost("", address_->lanIP());
    p.mac = address_->mac().value_or("");
    p.link = linkFor(p.lanIP, p.mac, code, relay, grantQuery);
    return p;
}

const std::string& PairingPublisher::rebuild(const std::string& code, const wex::RelayIdentity& relay,
                                             const std::string& grantQuery) {
    // Read afresh: an agent started before the network came up must not keep naming 127.0.0.1, nor a
    // machine that moved to another network its old address.
    published_->lanIP = pairingLinkHost("", address_->lanIP());
    if (auto mac = address_->mac()) published_->mac = *mac;
    published_->link = linkFor(published_->lanIP, published_->mac, code, relay, grantQuery);
    return published_->link;
}

} // namespace dovrel::agent
