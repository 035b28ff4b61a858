#include "protocol/ByteReader.h"

#include "protocol/UTF8.h"
#include "protocol/WEXError.h"

namespace wex {

int64_t ByteReader::remaining() const {
    const auto size = static_cast<int64_t>(bytes_.size());
    if (offset_ < 0 || offset_ >= size) return 0;
    return size - offset_;
}

const uint8_t* ByteReader::need(int64_t count) const {
    if (count < 0 || count > remaining()) throw WEXError::truncated();
    return bytes_.data() + offset_;
}

uint64_t ByteReader::readBigEndian(int width) {
    const uint8_t* p = need(width);
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v = (v << 8) | p[i];
    offset_ += width;
    return v;
}

uint8_t ByteReader::u8() { return static_cast<uint8_t>(readBigEndian(1)); }
uint16_t ByteReader::u16() { return static_cast<uint16_t>(readBigEndian(2)); }
uint32_t ByteReader::u32() { return static_cast<uint32_t>(readBigEndian(4)); }
uint64_t ByteReader::u64() { return readBigEndian(8); }

Bytes ByteReader::take(int64_t count) {
    if (count == 0) return {};
    const uint8_t* p = need(count);
    offset_ += count;
    return Bytes(p, p + count);
}

std::string ByteReader::string() {
    const int64_t start = offset_;
    const uint16_t n = u16();
    if (n > remaining()) {
        offset_ = start;
        throw WEXError::truncated();
    }
    const uint8_t* p = bytes_.data() + offset_;
    offset_ += n;
    return repairUTF8(ByteView(p, n));
}

Bytes ByteReader::blob() {
    const int64_t start = offset_;
    const uint32_t n = u32();
    // Checked before anything is allocated: an announced count is only believed once its bytes are here.
    if (n > remaining()) {
        offset_ = start;
        throw WEXError::truncated();
    }
    return take(n);
}

} // namespace wex
