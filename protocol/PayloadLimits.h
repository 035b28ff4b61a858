#pragma once

#include <cstddef>

#include "protocol/CommonHeader.h"
#include "protocol/WEXConstants.h"

namespace wex {

// The largest message payload that can travel in every kind of frame. After authentication each
// payload is sealed behind an 8-byte sequence-and-time header that the 16-bit length also counts, so
// 65527 bytes is what is left; a payload above it can be framed plain but never sealed.
inline constexpr std::size_t maxSealablePayload = maxFramePayload - SeqTimingHeader::size;
static_assert(maxSealablePayload == 65527);

} // namespace wex
