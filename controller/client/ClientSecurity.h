#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "controller/platform/SecretStore.h"
#include "controller/platform/UserDefaults.h"
#include "protocol/Bytes.h"
#include "protocol/Crypto.h"
#include "protocol/DeviceIdentity.h"

namespace dovrel::controller {

// What the controller knows about itself and whom it trusts: its Ed25519 identity (in the secret
// store), its random 16-byte device identifier and one trusted agent key per machine (in the user
// defaults), and a pairing code the defaults may supply. One per WEXClient. The identity is fixed at
// construction; every other value is read from the defaults on each use, so the client thread and
// the main thread see the same trust.
class ClientSecurity {
public:
    static constexpr std::string_view identityService = "com.plovnik.dovrel.identity";
    static constexpr std::string_view identityAccount = "device-identity";
    static constexpr std::string_view deviceIdKey = "dovrel.deviceId";
    static constexpr std::string_view agentPubPrefix = "dovrel.agentPub.";
    static constexpr std::string_view legacyAgentPubKey = "dovrel.agentPub";
    static constexpr std::string_view legacyIdentityKey = "dovrel.identity";
    static constexpr std::string_view pairingCodeKey = "pairingCode";

    ClientSecurity(std::shared_ptr<UserDefaults> defaults, std::shared_ptr<SecretStore> secrets);

    const wex::DeviceIdentity& identity() const { return identity_; }
    // False when the stored identity could not be read and this run uses a throwaway key.
    bool identityIsAuthoritative() const { return authoritative_; }

    // The stored identifier, or a new random one stored in its place when it is not 16 bytes.
    wex::FixedBytes<16> deviceId();

    // Machine identifiers are compared in lower case; an empty one is never trusted.
    void trustAgent(wex::ByteView agentPub, std::string_view machine);
    std::optional<wex::Bytes> trustedAgent(std::string_view machine) const;
    void forgetAgent(std::string_view machine);

    // The defaults' "pairingCode" (or the launch's "-pairingCode"), unless empty.
    std::optional<std::string> pairingCode() const;

    UserDefaults& defaults() { return *defaults_; }

private:
    struct Loaded {
        wex::DeviceIdentity identity;
        bool authoritative;
    };
    Loaded loadIdentity();
    bool writeIdentity(wex::ByteView raw);
    bool hasAnyPerMachineTrust() const;

    std::shared_ptr<UserDefaults> defaults_;
    std::shared_ptr<SecretStore> secrets_;
    wex::DeviceIdentity identity_;
    bool authoritative_ = true;
    std::mutex deviceIdLock_; // the first use makes the identifier: once, whichever thread comes first
};

} // namespace dovrel::controller
