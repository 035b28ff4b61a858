#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "protocol/RelayIdentity.h"

namespace dovrel::agent {

// Changes the account work makes to the window's model. Each field that is set is written; the rest stay.
// Optional texts of the model (nil or a text) are set as std::optional<std::string>.
struct AccountModelChange {
    using Text = std::optional<std::string>;

    std::optional<bool> grantBusy{};
    std::optional<Text> grantError{};
    std::optional<Text> grantNotice{};
    std::optional<std::string> grantExpiryText{};
    std::optional<std::string> shareCode{};
    std::optional<std::string> shareCodeNote{};
    std::optional<std::optional<int64_t>> shareCodeExpiresAt{}; // seconds since 1970, or nil
    std::optional<bool> shareInFlight{};
    std::optional<std::string> account{};
    std::optional<bool> accountBusy{};
    std::optional<Text> accountError{};
    // After the fields: rebuild the pairing link (it reads the account and the grant).
    bool refreshPairingURL = false;
};

// What the account work reads back from the model, on the main thread, after a change.
struct AccountModelView {
    std::string pairingURL; // whole, with the account and grant token when present
    double grantTTLHours = 0;
};

// What the account work needs from the agent around it: the relay link, the identity store, the
// connected client and the window's model. The account thread calls these; none of them may wait for
// the account thread (its entry points never wait for anyone, so the agent's threads may call them).
class AccountHost {
public:
    virtual ~AccountHost() = default;

    // The transport's current relay identity. Any thread.
    virtual wex::RelayIdentity relayIdentity() const = 0;

    // Puts `account` and `token` into the transport's relay identity, keeping its host and port, so that
    // relayIdentity() returns them as soon as this returns; then has the relay link start again for the
    // agent's device identifier, on its owner thread "dovrel.net" (posted there, not waited for). An
    // empty account registers in the shared namespace. Returns the identity now in force.
    virtual wex::RelayIdentity reRegisterRelay(const std::string& account, const std::string& token) = 0;

    // Draws a new pairing code into the identity store; the new code is in force when this returns.
    virtual void rotatePairingCode() = 0;

    // Drops the connected client, if any (on "dovrel.net"; posting is enough).
    virtual void dropClient() = 0;

    // The relay issued a share code that hands out `payload` (the pairing link) to whoever claims it
    // within `lifetime`: the pairing code in it keeps counting that long. Posting is enough.
    virtual void shareCodeIssued(const std::string& payload, std::chrono::seconds lifetime) = 0;
    // This computer left the account its share codes were issued in: they pair nothing from now on.
    virtual void shareCodesWithdrawn() = 0;

    // Applies `change` on the main thread, in the order of the calls, then reads the view there and
    // hands it to `then` when `then` is set (exactly once).
    virtual void updateModel(AccountModelChange change, std::function<void(const AccountModelView&)> then) = 0;
};

} // namespace dovrel::agent
