#pragma once

#include <cstdint>
#include <string_view>

#include "protocol/Bytes.h"

namespace wex {

// Append-only big-endian writer. The encoded result is `bytes`.
struct ByteWriter {
    Bytes bytes;

    ByteWriter() = default;
    // Reserves room for that many bytes; a negative request reserves nothing.
    explicit ByteWriter(int64_t reserving);

    void u8(uint8_t v) { bytes.push_back(v); }
    void u16(uint16_t v);
    void u32(uint32_t v);
    void u64(uint64_t v);
    void i16(int16_t v) { u16(static_cast<uint16_t>(v)); }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void raw(ByteView data) { bytes.insert(bytes.end(), data.begin(), data.end()); }

    // A string field: u16 count, then the UTF-8 bytes. A text longer than a count can say is cut at the
    // last whole character within 65535 bytes, never written with a wrapped count.
    void string(std::string_view utf8);
    // A blob field: u32 count, then the bytes. Callers keep blobs far below 4 GiB.
    void blob(ByteView data);
};

} // namespace wex
