#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dovrel::agent {

// What a controller needs to add this computer, as one "dovrel://pair?" link (shown as a QR code).
struct PairingLinkParts {
    bool lanEnabled = false;
    std::string lanIP; // used only with lanEnabled; "127.0.0.1" when empty
    std::string code;
    std::string name;
    std::string mac;
    std::string deviceId;
    std::string relayHost;
    uint16_t relayPort = 0;
    std::string grantQuery; // "&account=…&token=…" or empty
};

// Keeps what may stand in a URL query (letters, digits and -._~!$&'()*+,;=:@/?) and writes every other
// byte of the UTF-8 form as %XX with upper-case digits.
std::string percentEncodeQuery(std::string_view text);

// "dovrel://pair?" [host=IP&] code=… &name=… &mac=… &id=… &relay=host:port &kind=linux [grant].
std::string pairingLink(const PairingLinkParts& parts);

// The link as it may be written to the log: the values of "code=" and "token=" become "…redacted…".
std::string redactedLink(std::string_view link);

} // namespace dovrel::agent
