#include "protocol/ByteWriter.h"

#include "protocol/UTF8.h"

namespace wex {

ByteWriter::ByteWriter(int64_t reserving) {
    if (reserving > 0) bytes.reserve(static_cast<std::size_t>(reserving));
}

void ByteWriter::u16(uint16_t v) {
    bytes.push_back(static_cast<uint8_t>(v >> 8));
    bytes.push_back(static_cast<uint8_t>(v));
}

void ByteWriter::u32(uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(v >> shift));
}

void ByteWriter::u64(uint64_t v) {
    for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(v >> shift));
}

void ByteWriter::string(std::string_view utf8) {
    const std::size_t n = utf8PrefixLength(utf8, 0xFFFF);
    u16(static_cast<uint16_t>(n));
    raw(ByteView(reinterpret_cast<const uint8_t*>(utf8.data()), n));
}

void ByteWriter::blob(ByteView data) {
    u32(static_cast<uint32_t>(data.size()));
    raw(data);
}

} // namespace wex
