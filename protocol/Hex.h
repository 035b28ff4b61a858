#pragma once

#include <string>

#include "protocol/Bytes.h"

namespace wex {

// Lower-case hexadecimal, two digits a byte, high half first, no separator; no bytes give "".
std::string hexed(ByteView bytes);

// The device identifier a static public key stands for: hexed of its first 16 bytes (all of it when
// shorter). It is also the agent's relay room and the name its key is trusted under.
std::string deviceIdOfKey(ByteView staticPub);

} // namespace wex
