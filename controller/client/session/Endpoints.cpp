#include "controller/client/session/Endpoints.h"

#include <vector>

#include "protocol/PortText.h"

namespace dovrel::controller {

wex::RelayIdentity chooseRelayIdentity(const std::optional<std::string>& qrAccount,
                                       const std::optional<std::string>& qrToken,
                                       const std::optional<std::string>& qrRelay,
                                       const std::optional<wex::RelayIdentity>& storedAccount,
                                       const std::string& defaultHost, uint16_t defaultPort) {
    if (qrAccount && qrToken && !qrAccount->empty() && !qrToken->empty()) {
        wex::RelayIdentity id{*qrAccount, *qrToken, defaultHost, defaultPort};
        if (qrRelay) {
            const auto colon = qrRelay->rfind(':');
            if (colon != std::string::npos) {
                const std::string host = qrRelay->substr(0, colon);
                // A link naming no host before the colon still has to dial somewhere.
                if (!host.empty()) id.host = host;
                id.port = wex::parsePort(std::string_view(*qrRelay).substr(colon + 1)).value_or(defaultPort);
            }
        }
        return id;
    }
    if (storedAccount) return *storedAccount;
    return wex::RelayIdentity{"", "", defaultHost, defaultPort};
}

LanTarget parseLanTarget(std::string_view text) {
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close != std::string_view::npos) {
            LanTarget t{std::string(text.substr(1, close - 1)), std::nullopt};
            const auto rest = text.substr(close + 1);
            if (rest.size() > 1 && rest.front() == ':') t.port = wex::parsePort(rest.substr(1));
            if (t.port == 0) t.port.reset();
            return t;
        }
    }
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || text.find(':', colon + 1) != std::string_view::npos)
        return {std::string(text), std::nullopt};
    LanTarget t{std::string(text.substr(0, colon)), wex::parsePort(text.substr(colon + 1))};
    if (t.port == 0) t.port.reset(); // port 0 names no port: dial the usual one
    return t;
}

} // namespace dovrel::controller
