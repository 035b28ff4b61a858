#pragma once

#include <string_view>

#include "protocol/Crypto.h"

namespace wex {

// The pairing-code key both programs derive from the six-digit code: SHA-256 of "WEX-pair-v1:" followed
// by the code's UTF-8 bytes. The agent uses its current code, the controller the code the user typed
// (after taking out anything that is not part of the code).
FixedBytes<32> pairingCodeKey(std::string_view code);

} // namespace wex
