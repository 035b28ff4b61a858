#include "controller/client/ClientSecurity.h"

#include "controller/client/Hexed.h"
#include "controller/platform/ClientLog.h"

namespace dovrel::controller {

namespace {
std::string machineKey(std::string_view machine) {
    return std::string(ClientSecurity::agentPubPrefix) + lowercased(machine);
}
} // namespace

ClientSecurity::ClientSecurity(std::shared_ptr<UserDefaults> defaults, std::shared_ptr<SecretStore> secrets)
    : defaults_(std::move(defaults)), secrets_(std::move(secrets)) {
    Loaded loaded = loadIdentity();
    identity_ = std::move(loaded.identity);
    authoritative_ = loaded.authoritative;
}

bool ClientSecurity::writeIdentity(wex::ByteView raw) {
    const SecretWrite w = secrets_->write(identityService, identityAccount, raw);
    if (!w.ok) identityLog("SecItemAdd failed (OSStatus " + std::to_string(w.code) + ")");
    return w.ok;
}

ClientSecurity::Loaded ClientSecurity::loadIdentity() {
    const SecretRead stored = secrets_->read(identityService, identityAccount);
    if (stored.outcome == SecretRead::Outcome::found && stored.data.size() == wex::DeviceIdentity::rawSize) {
        defaults_->remove(legacyIdentityKey);
        return {wex::DeviceIdentity(stored.data), true};
    }

    const auto legacy = defaults_->data(legacyIdentityKey);
    if (legacy && legacy->size() == wex::DeviceIdentity::rawSize) {
        wex::DeviceIdentity key(*legacy);
        if (writeIdentity(*legacy)) {
            const SecretRead back = secrets_->read(identityService, identityAccount);
            if (back.outcome == SecretRead::Outcome::found && back.data == *legacy) {
                defaults_->remove(legacyIdentityKey);
                identityLog("identity migrated from UserDefaults to the Keychain");
                return {std::move(key), true};
            }
        }
        identityLog("Keychain write failed - identity left in UserDefaults, will retry next launch");
        return {std::move(key), true};
    }

    if (stored.outcome == SecretRead::Outcome::failed) {
        // Never overwrite what may be the real key: a later run may read it again.
        identityLog("identity unreadable (OSStatus " + std::to_string(stored.code) +
                    ") - throwaway key for this launch, nothing overwritten");
        return {wex::DeviceIdentity(), false};
    }

    wex::DeviceIdentity fresh;
    writeIdentity(fresh.raw());
    return {std::move(fresh), true};
}

wex::FixedBytes<16> ClientSecurity::deviceId() {
    std::lock_guard guard(deviceIdLock_);
    if (const auto stored = defaults_->data(deviceIdKey)) {
        if (const auto id = wex::fixedBytes<16>(*stored)) return *id;
    }
    wex::FixedBytes<16> id{};
    wex::Crypto::fillRandom(id.data(), id.size());
    defaults_->setData(deviceIdKey, id);
    return id;
}

void ClientSecurity::trustAgent(wex::ByteView agentPub, std::string_view machine) {
    if (machine.empty()) return;
    defaults_->setData(machineKey(machine), agentPub);
    defaults_->remove(legacyAgentPubKey);
}

bool ClientSecurity::hasAnyPerMachineTrust() const {
    for (const std::string& k : defaults_->keys())
        if (k.starts_with(agentPubPrefix)) return true;
    return false;
}

std::optional<wex::Bytes> ClientSecurity::trustedAgent(std::string_view machine) const {
    if (machine.empty()) return std::nullopt;
    if (auto key = defaults_->data(machineKey(machine))) return key;
    // The single key of the era before per-machine trust stands for every machine until the first
    // per-machine key exists.
    if (hasAnyPerMachineTrust()) return std::nullopt;
    return defaults_->data(legacyAgentPubKey);
}

void ClientSecurity::forgetAgent(std::string_view machine) {
    if (machine.empty()) return;
    const std::string key = machineKey(machine);
    const bool held = defaults_->data(key).has_value();
    defaults_->remove(key);
    if (!held) defaults_->remove(legacyAgentPubKey);
}

std::optional<std::string> ClientSecurity::pairingCode() const {
    auto code = defaults_->string(pairingCodeKey);
    if (!code || code->empty()) return std::nullopt;
    return code;
}

} // namespace dovrel::controller
