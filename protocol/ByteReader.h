#pragma once

#include <cstdint>
#include <string>

#include "protocol/Bytes.h"

namespace wex {

// Cursor over borrowed bytes; the bytes must outlive the reader. Every read throws
// WEXError::truncated() when too few bytes remain and then leaves the offset where it was.
class ByteReader {
public:
    explicit ByteReader(ByteView bytes, int64_t offset = 0) : bytes_(bytes), offset_(offset) {}

    ByteView bytes() const { return bytes_; }
    int64_t offset() const { return offset_; }
    // Bytes left to read; 0 when the offset lies outside the input.
    int64_t remaining() const;

    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    uint64_t u64();
    int16_t i16() { return static_cast<int16_t>(u16()); }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    // The next `count` bytes; a negative count is truncated, 0 yields nothing.
    Bytes take(int64_t count);
    // A string field (u16 count), converted to UTF-8 with repair.
    std::string string();
    // A blob field (u32 count).
    Bytes blob();

private:
    // Checks that `count` bytes are there and returns where they start.
    const uint8_t* need(int64_t count) const;
    uint64_t readBigEndian(int width);

    ByteView bytes_;
    int64_t offset_;
};

} // namespace wex
