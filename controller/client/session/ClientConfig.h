#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QStringList>

#include "controller/client/audio/AudioOutput.h"
#include "protocol/Bytes.h"
#include "protocol/ControlMessages.h"
#include "protocol/RelayIdentity.h"
#include "protocol/WEXConstants.h"
#include "runtime/net/HostResolver.h"

namespace dovrel {
class Scheduler;
}

namespace dovrel::controller {

class SecretStore;
class SecretsThread;

// What a WEXClient is built with. The defaults are the real program's; tests name loopback ports,
// a fake clock, private files and a test certificate authority.
struct ClientConfig {
    uint16_t controlPort = wex::WEX::controlPort; // the agent's TCP control port
    uint16_t videoPort = wex::WEX::videoPort;     // our UDP listener; 0 takes any free port
    uint16_t inputPort = wex::WEX::inputPort;     // the agent's UDP input port
    std::string defaultRelayHost = std::string(wex::WEX::relayHost);
    uint16_t defaultRelayPort = wex::WEX::relayPort;
    // PEM certificates trusted for the relay beside the system's store; empty in the real program.
    std::string relayCaFile;

    // The clock of every timer of the client; used on the client thread only. Null: the real one.
    Scheduler* scheduler = nullptr;

    std::string settingsPath;             // empty: UserDefaults::defaultPath()
    QStringList arguments;                // launch arguments, for "-pairingCode"
    std::shared_ptr<SecretStore> secrets; // null: the keychain with its file fallback
    // Where `secrets` is read and written (shared with the program's other users of the store). Null:
    // a thread of the client's own over `secrets`.
    std::shared_ptr<SecretsThread> secretsThread;
    std::string deviceName; // sent in Hello; empty: this computer's host name
    // Every opened control message of an established session, after the client's own handling
    // (client thread).
    std::function<void(uint8_t msgType, const wex::Bytes& payload)> sessionControl;
    // Where the remote sound plays. Null: the default PulseAudio sink.
    AudioOutputFactory audioOutputs;
    // Looks up the agent's and the relay's host names. Null: the system's resolver.
    std::shared_ptr<HostResolver> resolver;
};

} // namespace dovrel::controller
