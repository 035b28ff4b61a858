#pragma once

#include <cstdint>

#include "protocol/Bytes.h"

namespace wex::CRC8 {

// CRC-8 with polynomial 0x07, initial value 0, no reflection and no final XOR ("123456789" -> 0xF4).
uint8_t compute(ByteView data);

} // namespace wex::CRC8
