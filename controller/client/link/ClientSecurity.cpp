#include "controller/client/link/ClientSecurity.h"

#include "controller/client/link/Hexed.h"
#include "controller/platform/ClientLog.h"

namespace dovrel::controller {

namespace {
std::string machineKey(std::string_view machine) {
    return std::string(ClientSecurity::agentPubPrefix) + lowercased(machine);
}
} // namespace

ClientSecurity::ClientSecurity(std::shared_ptr<UserDefaults> defaults, std::shared_ptr<SecretStore> secrets)
    : defaults_(std::move(defaults)) {
    setIdentity(loadIdentity(*defaults_, *secrets));
}

ClientSecurity::ClientSecurity(std::shared_ptr<UserDefaults> defaults) : defaults_(std::move(defaults)) {}

void ClientSecurity::setIdentity(IdentityLoad loaded) {
    if (hasIdentity()) return;
    loaded_ = std::move(loaded);
    ready_.store(true, std::memory_order_release);
}

bool ClientSecurity::writeIdentity(SecretStore& secrets, wex::ByteView raw) {
    const SecretWrite w = secrets.write(identityService, identityAccount, raw);
    if (!w.ok) identityLog("SecItemAdd failed (OSStatus " + std::to_string(w.code) + ")");
    return w.ok;
}

ClientSecurity::IdentityLoad ClientSecurity::loadIdentity(UserDefaults& defaults, SecretStore& secrets) {
    const SecretRead stored = secrets.read(identityService, identityAccount);
    if (stored.outcome == SecretRead::Outcome::found && stored.data.size() == wex::DeviceIdentity::rawSize) {
        defaults.remove(legacyIdentityKey);
        return {wex::DeviceIdentity(stored.data), true, std::nullopt};
    }

    const auto legacy = defaults.data(legacyIdentityKey);
    if (legacy && legacy->size() == wex::DeviceIdentity::rawSize) {
        wex::DeviceIdentity key(*legacy);
        if (writeIdentity(secrets, *legacy)) {
            const SecretRead back = secrets.read(identityService, identityAccount);
            if (back.outcome == SecretRead::Outcome::found && back.data == *legacy) {
                defaults.remove(legacyIdentityKey);
                identityLog("identity migrated from UserDefaults to the Keychain");
                return {std::move(key), true, std::nullopt};
            }
        }
        identityLog("Keychain write failed - identity left in UserDefaults, will retry next launch");
        return {std::move(key), true, std::nullopt};
    }

    // Machines trust this controller's key: one it cannot read now is still the one they know.
    const bool missingButKnown = stored.outcome == SecretRead::Outcome::notFound &&
                                 (hasAnyPerMachineTrust(defaults) || defaults.data(legacyAgentPubKey));
    if (stored.outcome == SecretRead::Outcome::failed || missingButKnown) {
        // Never overwrite what may be the real key: a later run may read it again.
        const int code = stored.outcome == SecretRead::Outcome::failed ? stored.code : -25300;
        identityLog("identity unreadable (OSStatus " + std::to_string(code) +
                    ") - throwaway key for this launch, nothing overwritten");
        std::string why = missingButKnown ? std::string("the keyring gave no identity") : stored.message;
        if (why.empty()) why = "error " + std::to_string(code);
        return {wex::DeviceIdentity(), false, std::move(why)};
    }

    wex::DeviceIdentity fresh;
    writeIdentity(secrets, fresh.raw());
    return {std::move(fresh), true, std::nullopt};
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

bool ClientSecurity::hasAnyPerMachineTrust(const UserDefaults& defaults) {
    for (const std::string& k : defaults.keys())
        if (k.starts_with(agentPubPrefix)) return true;
    return false;
}

std::optional<wex::Bytes> ClientSecurity::trustedAgent(std::string_view machine) const {
    if (machine.empty()) return std::nullopt;
    if (auto key = defaults_->data(machineKey(machine))) return key;
    // The single key of the era before per-machine trust stands for every machine until the first
    // per-machine key exists.
    if (hasAnyPerMachineTrust(*defaults_)) return std::nullopt;
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
