#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace wex {

// Owned bytes of one encoded structure, and a borrowed view of bytes to decode.
using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

} // namespace wex
