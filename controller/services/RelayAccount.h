#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <QObject>
#include <QString>

#include "controller/client/session/StoredRelayAccount.h"
#include "controller/platform/SecretStore.h"
#include "controller/platform/SecretsThread.h"
#include "protocol/RelayIdentity.h"

namespace dovrel::controller {

// The signed-in relay account, kept as four secret items of the service "com.plovnik.dovrel.account"
// ("account", "token", "relayHost", "relayPort"). The items are read once, when this is made, on the
// secrets thread, and kept in memory; signing in and out change the copy at once and the items behind
// it. Nothing reads the keychain again while the program runs. Main thread.
class RelayAccount final : public QObject, public StoredRelayAccount {
    Q_OBJECT

public:
    struct Session {
        QString account;
        QString token; // a secret: never logged
        QString relayHost;
        uint16_t relayPort = 0;
        bool operator==(const Session&) const = default;
    };

    static constexpr std::string_view service = "com.plovnik.dovrel.account";

    RelayAccount(std::shared_ptr<SecretsThread> secrets, QString defaultRelayHost, uint16_t defaultRelayPort,
                 QObject* parent = nullptr);

    // Whether the stored items have been read (or a sign-in or sign-out came first). Until then nobody is
    // signed in as far as current() knows.
    bool loaded() const { return loaded_; }
    // Signed in when "account" and "token" both hold non-empty texts. A missing "relayHost" gives the
    // default relay (a stored empty one stays empty); a missing or unreadable "relayPort" gives 8443.
    std::optional<Session> current() const { return session_; }
    // The same, as the session client dials the relay with it.
    std::optional<wex::RelayIdentity> storedRelayIdentity() const override;
    void save(const Session& session);
    void signOut();

    // The items as they stand in `secrets` (blocking; the secrets thread).
    static std::optional<Session> read(SecretStore& secrets, const QString& defaultRelayHost,
                                       uint16_t defaultRelayPort);

signals:
    // The stored items were read, or the user signed in or out.
    void changed();

private:
    void set(std::optional<Session> session);

    std::shared_ptr<SecretsThread> secrets_;
    std::optional<Session> session_;
    bool loaded_ = false;
    uint64_t changes_ = 0; // sign-ins and sign-outs: the stored items read before one are out of date
};

} // namespace dovrel::controller
