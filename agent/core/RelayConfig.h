#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "agent/core/RelayEndpoint.h"
#include "protocol/RelayIdentity.h"

namespace dovrel::agent {

// The agent's relay configuration, relay.json in the configuration directory: which relay to register
// with, whether the local-network listeners run, where the account API is, which regions to probe and
// which account the agent is signed in to. The agent itself only ever writes "account" and "token";
// every other key, known or not, is kept as it is. The local network is on unless the file says
// "lan": false: with no relay service of its own, a home network is the way most people reach a machine.
class RelayConfig {
public:
    struct Settings {
        bool lanEnabled = true;
        bool hostPinned = false;
        std::string apiHost;
        uint16_t apiPort = 443;
        std::vector<RelayEndpoint> regions;
    };

    // `directory` holds relay.json; the process-wide instance uses configDirectory().
    explicit RelayConfig(std::string directory);
    static RelayConfig& shared();

    const std::string& directory() const { return directory_; }
    std::string path() const { return pathIn(directory_); }
    // The file in `directory`.
    static std::string pathIn(const std::string& directory) { return directory + "/relay.json"; }

    // Reads the file and updates the settings; a missing or malformed file gives the default identity
    // and leaves the settings as they were. Never fails.
    wex::RelayIdentity load();
    // Stores the enrolment keys, keeping every other key; throws std::runtime_error with what failed.
    void save(const std::string& account, const std::string& token);
    // Removes the enrolment keys; deletes the file when nothing else is left. Never fails.
    void clear();

    // A consistent copy of what the last load() set (sign-in may reload while others read).
    Settings settings() const;

private:
    std::string directory_;
    mutable std::mutex lock_;
    Settings settings_;
};

} // namespace dovrel::agent
