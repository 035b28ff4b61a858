#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/relay/RelayRegistration.h"

namespace dovrel::test::relay {

// How the relay double behaves, from its command line:
//
//   dovrel-test-relay --cert FILE --key FILE [--listen ADDRESS] [--port N] [--port-file FILE]
//                     [--challenge] [--redirect ROOM=TARGET]... [--token TOKEN]... [--token-shape]
//                     [--room-key-check] [--preamble-timeout-ms N]
struct RelayOptions {
    std::string certFile; // PEM server certificate (chain)
    std::string keyFile;  // PEM private key
    std::string listen = "127.0.0.1";
    uint16_t port = 0; // 0: any free port; the one taken is printed and written to portFile
    std::string portFile;
    bool challenge = false;                       // ask every version 2 registration with a key for a signature
    std::map<std::string, std::string> redirects; // room (or "*") -> "host:port" text sent as it is
    std::set<std::string> tokens;                 // accepted tokens of version 2 registrations
    bool tokenShape = false;                      // also accept any token of the account API's shape
    bool roomKeyCheck = false;                    // an agent's room must be its key's device identifier
    int preambleTimeoutMs = 10000;                // after TLS, the time to register (and prove) in

    // Fills the options from argv; an error text names the argument at fault.
    static std::optional<RelayOptions> parse(const std::vector<std::string>& args, std::string& error);
    static const char* usage();

    // Why a registration is refused, or empty when it is accepted.
    std::string refusal(const Registration& reg) const;
    // Where a version 2 registration of this room is sent instead, if anywhere.
    std::optional<std::string> redirectFor(const Registration& reg) const;
    // Whether the relay asks this registration to sign a nonce.
    bool challenges(const Registration& reg) const { return challenge && reg.version == 2 && !reg.pubKey.empty(); }
};

// Seven dot-separated pieces of which the sixth is 16 hex digits: the account API's token shape.
bool hasTokenShape(std::string_view token);

// Rooms of version 1 live in the legacy namespace; version 2 rooms belong to their account.
std::string roomKey(const Registration& reg);

} // namespace dovrel::test::relay
