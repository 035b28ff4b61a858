#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "controller/client/session/ClientConfig.h"
#include "controller/client/session/StoredRelayAccount.h"
#include "controller/platform/FileSecretStore.h"
#include "tests/support/TempHome.h"

namespace dovrel::bench {

// Every dial of a benchmark names its agent directly; nobody is signed in to a relay account.
struct NoRelayAccount final : controller::StoredRelayAccount {
    std::optional<wex::RelayIdentity> storedRelayIdentity() const override { return std::nullopt; }
};

// A client configuration for a benchmark: private settings and secrets in `dir`, video on `videoPort`,
// and no sound (there is no sound server here, and the agents send none without one either).
inline controller::ClientConfig benchClientConfig(const test::TempDir& dir, uint16_t videoPort) {
    controller::ClientConfig config;
    config.settingsPath = dir.file("DovrelController.ini");
    config.secrets = std::make_shared<controller::FileSecretStore>(dir.file("secrets"));
    config.videoPort = videoPort;
    config.deviceName = "bench-controller";
    config.audioOutputs = [](const controller::AudioFormat&,
                             std::string& error) -> std::unique_ptr<controller::AudioOutput> {
        error = "no sound in this benchmark";
        return nullptr;
    };
    return config;
}

} // namespace dovrel::bench
