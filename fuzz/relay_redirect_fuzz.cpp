// The node a relay's redirect names, from any text: a result always holds a non-empty host without ":"
// and is exactly what the text says, written back as "host:port".
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzSeeds.h"
#include "protocol/RelayRedirect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto target = wex::parseRelayRedirect(text);
    if (!target) return 0;
    if (target->host.empty() || target->host.find(':') != std::string::npos) std::abort();
    // Dropping the empty pieces and the port's leading zeros gives the same endpoint again.
    const std::string again = target->host + ":" + std::to_string(target->port);
    const auto reparsed = wex::parseRelayRedirect(again);
    if (!reparsed || !(*reparsed == *target)) std::abort();
    return 0;
}

std::vector<wex::Bytes> fuzzSeeds() {
    const auto text = [](std::string_view s) { return wex::Bytes(s.begin(), s.end()); };
    return {text("relay-eu.dovrel.net:8443"),
            text("127.0.0.1:70000"),
            text("::1:9000"),
            text("host"),
            text("a:b:1"),
            text(":443:")};
}
