#pragma once

#include <optional>

#include "protocol/RelayIdentity.h"

namespace dovrel::controller {

// The relay account this controller is signed in to, which the session client dials the relay with
// when the machine's link carries no credentials of its own. Read on the main thread, afresh at each
// dial.
class StoredRelayAccount {
public:
    virtual ~StoredRelayAccount() = default;
    virtual std::optional<wex::RelayIdentity> storedRelayIdentity() const = 0;
};

} // namespace dovrel::controller
