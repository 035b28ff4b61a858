#pragma once

#include <string>

#include "protocol/Bytes.h"

namespace dovrel::agent {

// Each byte as two lower-case hex digits, no separator. A device identifier is hex of the first 16
// bytes of the public key; a fingerprint in a log line hex of the first 8, followed by "…".
std::string hex(wex::ByteView bytes);

} // namespace dovrel::agent
