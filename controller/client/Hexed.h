#pragma once

#include <string>

#include "protocol/Bytes.h"
#include "protocol/Crypto.h"

namespace dovrel::controller {

// Lower-case hexadecimal, two digits a byte, high half first; no bytes give "". An agent's
// identifier (its relay room and the name it is trusted under) is hexed of its key's first 16 bytes.
std::string hexed(wex::ByteView bytes);

// The machine identifier an agent's static key stands for: hexed of its first 16 bytes (all of it
// when shorter).
std::string agentIdFromKey(wex::ByteView staticPub);

// 24 fresh bytes from the system's secure random source, for the client nonce of Auth.
wex::FixedBytes<24> nonce24();

// ASCII lower case; other bytes unchanged. Machine identifiers and rooms are compared this way.
std::string lowercased(std::string_view text);

} // namespace dovrel::controller
