// Host and port texts from links, relay.json and users: a port is taken only when the text is one to five
// decimal digits worth at most 65535, and both programs' splits of "host:port" keep to that rule.
#include <charconv>
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzSeeds.h"
#include "agent/core/RelayEndpoint.h"
#include "controller/client/session/Endpoints.h"
#include "protocol/PortText.h"

namespace {
// The rule written independently: all digits, at most five of them, value in range.
bool isPortText(std::string_view s) {
    if (s.empty() || s.size() > 5) return false;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size() && s.front() != '+' && value <= 65535;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto port = wex::parsePort(text);
    if (port.has_value() != isPortText(text)) std::abort();
    if (port && wex::parsePort(std::to_string(*port)) != port) std::abort();

    // The agent's relay region: written back as "host:port" it reads the same, and its blanks are trimmed.
    if (const auto endpoint = dovrel::agent::RelayEndpoint::parse(text)) {
        if (endpoint->host.find_first_of(" \t") == 0) std::abort();
        const auto reparsed =
            dovrel::agent::RelayEndpoint::parse(endpoint->host + ":" + std::to_string(endpoint->port));
        if (!reparsed || !(*reparsed == *endpoint)) std::abort();
    }

    // The controller's address on the local network: a port it keeps is never 0 and never made up.
    const auto lan = dovrel::controller::parseLanTarget(text);
    if (lan.port && (*lan.port == 0 || text.find(std::to_string(*lan.port)) == std::string_view::npos)) std::abort();
    return 0;
}

std::vector<wex::Bytes> fuzzSeeds() {
    const auto bytes = [](std::string_view s) { return wex::Bytes(s.begin(), s.end()); };
    return {bytes("relay-eu.dovrel.net:8443"), bytes("65535"),    bytes("65536"), bytes("08443"), bytes(" h:1 \t"),
            bytes("[fe80::1]:47810"),          bytes("::1:9000"), bytes("+1"),    bytes("host"),  bytes("a:")};
}
