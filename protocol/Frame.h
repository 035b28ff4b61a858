#pragma once

#include <cstdint>

#include "protocol/Bytes.h"
#include "protocol/CommonHeader.h"

namespace wex {

struct PlainFrame {
    CommonHeader header;
    Bytes payload;
    bool operator==(const PlainFrame&) const = default;
};

// A plain (unsealed) frame; empty when the payload is longer than a header can describe.
Bytes buildFrame(Stream stream, uint8_t msgType, uint32_t sessionId, HeaderFlags flags, ByteView payload);

// Header and payload of the frame at the first byte; bytes after it are ignored.
PlainFrame parseFrame(ByteView bytes);

// Bytes one frame occupies on a byte stream: header, payload and, when sealed, the 16-byte tag.
std::size_t frameSpan(const CommonHeader& header);

} // namespace wex
