#pragma once

#include <atomic>
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
// defaults), and a pairing code the defaults may supply. One per WEXClient. The identity is read once
// (a keychain may take its time: the client reads it off its own threads and hands it in) and never
// changes after; every other value is read from the defaults on each use, so the client thread and
// the main thread see the same trust.
class ClientSecurity {
public:
    // What reading the stored identity gave.
    struct IdentityLoad {
        wex::DeviceIdentity identity;
        bool authoritative = true;
        // Set when the store could not give back the identity it keeps: this launch uses a throwaway
        // key and nothing stored was touched. What the store said.
        std::optional<std::string> unreadable;
    };

    static constexpr std::string_view identityService = "com.plovnik.dovrel.identity";
    static constexpr std::string_view identityAccount = "device-identity";
    static constexpr std::string_view deviceIdKey = "dovrel.deviceId";
    static constexpr std::string_view agentPubPrefix = "dovrel.agentPub.";
    static constexpr std::string_view legacyAgentPubKey = "dovrel.agentPub";
    static constexpr std::string_view legacyIdentityKey = "dovrel.identity";
    static constexpr std::string_view pairingCodeKey = "pairingCode";

    // Reads the identity now, on the calling thread.
    ClientSecurity(std::shared_ptr<UserDefaults> defaults, std::shared_ptr<SecretStore> secrets);
    // The identity comes later, through setIdentity().
    explicit ClientSecurity(std::shared_ptr<UserDefaults> defaults);

    // Reads (or on a first launch makes and stores) the identity, blocking on the store; any thread.
    // When no usable item is found although this controller has paired with machines, the key is taken
    // as kept where it cannot be reached now (a locked keychain whose prompt was dismissed answers "no
    // item"): like a failed read, that gives a throwaway key and writes nothing.
    static IdentityLoad loadIdentity(UserDefaults& defaults, SecretStore& secrets);
    // Once; any thread. identity() may be read after hasIdentity() says so.
    void setIdentity(IdentityLoad loaded);
    bool hasIdentity() const { return ready_.load(std::memory_order_acquire); }

    const wex::DeviceIdentity& identity() const { return loaded_->identity; }
    // False when the stored identity could not be read and this run uses a throwaway key.
    bool identityIsAuthoritative() const { return loaded_->authoritative; }

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
    static bool writeIdentity(SecretStore& secrets, wex::ByteView raw);
    static bool hasAnyPerMachineTrust(const UserDefaults& defaults);

    std::shared_ptr<UserDefaults> defaults_;
    std::optional<IdentityLoad> loaded_; // written once, before ready_
    std::atomic<bool> ready_{false};
    std::mutex deviceIdLock_; // the first use makes the identifier: once, whichever thread comes first
};

} // namespace dovrel::controller
