#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "protocol/Bytes.h"
#include "protocol/DeviceIdentity.h"

namespace dovrel::agent {

// What makes this computer recognisable and whom it trusts, in ~/.dovrel: the signing identity
// (agent.key, the 32-byte seed), the paired controllers' public keys (paired, 32 bytes each, back to
// back) and this run's pairing code. Owned by the agent; used from "dovrel.net" after start-up, except
// the pairing code, which the main thread shows and "dovrel.net" and the account thread rotate.
class SecurityStore {
public:
    // `dir` is the folder (~/.dovrel for the agent itself). Never fails: an unusable key file is moved
    // aside and a new identity made; write failures are logged.
    explicit SecurityStore(std::string dir);

    const wex::DeviceIdentity& identity() const { return identity_; }
    const std::string& dir() const { return dir_; }
    const std::vector<wex::Bytes>& pairedPubs() const { return pairedPubs_; }

    // The code now in force; any thread.
    std::string pairingCode() const {
        const std::lock_guard guard(codeLock_);
        return pairingCode_;
    }
    // Draws a new code, in force when this returns, and returns it; any thread.
    std::string rotatePairingCode();
    // Six random decimal digits, zero-padded.
    static std::string newPairingCode();

    bool isPaired(wex::ByteView publicKey) const;
    // Adds a key that is not yet listed and saves; nothing when it is.
    void pair(wex::ByteView publicKey);
    // Removes the first entry equal to the key and saves; nothing (and no write) when none is.
    void unpair(wex::ByteView publicKey);
    void savePaired();

private:
    wex::DeviceIdentity loadIdentity(const std::string& path);
    void loadPaired();
    void write(wex::ByteView bytes, const std::string& path);

    std::string dir_;
    std::vector<wex::Bytes> pairedPubs_;
    wex::DeviceIdentity identity_;
    mutable std::mutex codeLock_;
    std::string pairingCode_;
};

// `count` bytes from the system's secure random source.
wex::Bytes randomBytes(std::size_t count);

} // namespace dovrel::agent
