#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <QString>

#include "controller/client/StoredRelayAccount.h"
#include "controller/platform/SecretStore.h"
#include "protocol/RelayIdentity.h"

namespace dovrel::controller {

// The signed-in relay account, kept as four secret items of the service "com.plovnik.dovrel.account"
// ("account", "token", "relayHost", "relayPort"). Read afresh on every access: nothing is cached, so
// a sign-out elsewhere shows at once. Calls run on the calling thread (the main thread).
class RelayAccount final : public StoredRelayAccount {
public:
    struct Session {
        QString account;
        QString token; // a secret: never logged
        QString relayHost;
        uint16_t relayPort = 0;
        bool operator==(const Session&) const = default;
    };

    static constexpr std::string_view service = "com.plovnik.dovrel.account";

    RelayAccount(std::shared_ptr<SecretStore> secrets, QString defaultRelayHost, uint16_t defaultRelayPort);

    // Signed in when "account" and "token" both hold non-empty texts. A missing "relayHost" gives the
    // default relay (a stored empty one stays empty); a missing or unreadable "relayPort" gives 8443.
    std::optional<Session> current() const;
    // The same, as the session client dials the relay with it.
    std::optional<wex::RelayIdentity> storedRelayIdentity() const override;
    void save(const Session& session);
    void signOut();

private:
    std::optional<QString> item(std::string_view name) const;
    void setItem(std::string_view name, const std::optional<QString>& value);

    std::shared_ptr<SecretStore> secrets_;
    QString defaultRelayHost_;
    uint16_t defaultRelayPort_;
};

} // namespace dovrel::controller
