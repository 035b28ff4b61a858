#pragma once

#include <string>

#include "protocol/Bytes.h"
#include "protocol/Crypto.h"
#include "protocol/Hex.h"

namespace dovrel::controller {

// 24 fresh bytes from the system's secure random source, for the client nonce of Auth.
wex::FixedBytes<24> nonce24();

// ASCII lower case; other bytes unchanged. Machine identifiers and rooms are compared this way.
std::string lowercased(std::string_view text);

} // namespace dovrel::controller
