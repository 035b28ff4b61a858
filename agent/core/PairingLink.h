#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dovrel::agent {

// The "dovrel://pair?..." link a controller needs to add this computer; shown as a QR code and text.
inline constexpr std::string_view pairingLinkPrefix = "dovrel://pair?";
inline constexpr std::string_view pairingLinkKind = "linux";
// What the log shows in place of the pairing code and an access-grant token.
inline constexpr std::string_view redactedToken = "…redacted…";
// The model's pairing code before start-up has drawn one; no link is built while it shows.
inline constexpr std::string_view placeholderPairingCode = "------";

struct PairingLinkParts {
    std::optional<std::string> lanHost; // only with the local network enabled: the address for "host="
    std::string code;                   // six decimal digits
    std::string name;                   // the computer's name as the user sees it, not yet encoded
    std::string mac;                    // "aa:bb:cc:dd:ee:ff", or empty when unknown
    std::string deviceId;               // 32 lower-case hex digits
    std::string relayHost;
    uint16_t relayPort = 8443;
    std::string grantQuery; // relayGrantQuery(...), or empty
};

// host (optional), code, name, mac, id, relay, kind=linux, then the grant query, in that fixed order;
// every value percent-encoded.
std::string buildPairingLink(const PairingLinkParts& parts);

// Keeps what may stand in a URL query value unescaped (letters, digits and - . _ ~ ! $ ' ( ) * + , ; : @
// / ?) and writes every other UTF-8 byte as "%XX". "&" and "=" are escaped too: left bare, a name such
// as "Lab & Co" would end its own parameter and could even pose as another one.
std::string percentEncodeQueryValue(std::string_view text);

// "&account=...&token=..." for a signed-in agent that holds an access grant; empty when the account or
// the grant token is empty.
std::string relayGrantQuery(std::string_view account, std::string_view grantToken);

// The link with the value of every "code" and "token" parameter replaced by "…redacted…", for the log:
// neither the pairing code nor a grant token ever reaches it.
std::string redactPairingLink(std::string_view link);

// The value of the link's first "code" parameter as it stands (a pairing code is digits, which are never
// escaped); empty when it has none.
std::string pairingCodeOfLink(std::string_view link);

// The address for "host=": the primary local IPv4 address, else "127.0.0.1".
std::string pairingLinkHost(const std::optional<std::string>& primaryIP);

} // namespace dovrel::agent
