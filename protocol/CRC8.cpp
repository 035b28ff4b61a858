#include "protocol/CRC8.h"

#include <array>

namespace wex::CRC8 {

namespace {

constexpr std::array<uint8_t, 256> makeTable() {
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        auto crc = static_cast<uint8_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80) ? static_cast<uint8_t>((crc << 1) ^ 0x07) : static_cast<uint8_t>(crc << 1);
        }
        table[static_cast<std::size_t>(i)] = crc;
    }
    return table;
}

constexpr auto table = makeTable();

} // namespace

uint8_t compute(ByteView data) {
    uint8_t crc = 0;
    for (uint8_t b : data) crc = table[crc ^ b];
    return crc;
}

} // namespace wex::CRC8
