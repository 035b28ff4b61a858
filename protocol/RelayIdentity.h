#pragma once

#include <cstdint>
#include <string>

namespace wex {

// The stored relay credentials of a device. With an account, the agent registers with the account-scoped
// preamble (version 2); without one, by room only (version 1).
struct RelayIdentity {
    std::string account;
    std::string token; // a secret: never logged
    std::string host;
    uint16_t port = 0;

    bool isAccountScoped() const { return !account.empty(); }
    bool operator==(const RelayIdentity&) const = default;
};

} // namespace wex
