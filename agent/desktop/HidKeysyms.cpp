#include "agent/desktop/HidKeysyms.h"

#include <array>

namespace dovrel::agent {

namespace {

struct Row {
    uint16_t usage;
    HidKey key;
};

constexpr uint32_t fkey(int n) { return keysym::f1 + static_cast<uint32_t>(n - 1); }

// Usages that are not letters or digits.
constexpr std::array<Row, 35> kOtherKeys{{
    {0x28, {keysym::returnKey, 0}},
    {0x29, {keysym::escape, 0}},
    {0x2A, {keysym::backSpace, 0}},
    {0x2B, {keysym::tab, 0}},
    {0x2C, {0x20, 0}},
    {0x3A, {fkey(1), 0}},
    {0x3B, {fkey(2), 0}},
    {0x3C, {fkey(3), 0}},
    {0x3D, {fkey(4), 0}},
    {0x3E, {fkey(5), 0}},
    {0x3F, {fkey(6), 0}},
    {0x40, {fkey(7), 0}},
    {0x41, {fkey(8), 0}},
    {0x42, {fkey(9), 0}},
    {0x43, {fkey(10), 0}},
    {0x44, {fkey(11), 0}},
    {0x45, {fkey(12), 0}},
    {0x4A, {keysym::home, 0}},
    {0x4B, {keysym::pageUp, 0}},
    {0x4C, {keysym::deleteKey, 0}},
    {0x4D, {keysym::end, 0}},
    {0x4E, {keysym::pageDown, 0}},
    {0x4F, {keysym::right, 0}},
    {0x50, {keysym::left, 0}},
    {0x51, {keysym::down, 0}},
    {0x52, {keysym::up, 0}},
    {0x58, {keysym::keypadEnter, keysym::returnKey}},
    {0xE0, {keysym::controlL, keysym::controlR}},
    {0xE1, {keysym::shiftL, keysym::shiftR}},
    {0xE2, {keysym::altL, keysym::altR}},
    {0xE3, {keysym::superL, keysym::superR}},
    {0xE4, {keysym::controlR, keysym::controlL}},
    {0xE5, {keysym::shiftR, keysym::shiftL}},
    {0xE6, {keysym::altR, keysym::altL}},
    {0xE7, {keysym::superR, keysym::superL}},
}};

} // namespace

std::optional<HidKey> hidKeyForUsage(uint16_t usageId) {
    if (usageId >= 0x04 && usageId <= 0x1D) return HidKey{static_cast<uint32_t>('a' + (usageId - 0x04)), 0};
    if (usageId >= 0x1E && usageId <= 0x26) return HidKey{static_cast<uint32_t>('1' + (usageId - 0x1E)), 0};
    if (usageId == 0x27) return HidKey{'0', 0};
    for (const Row& row : kOtherKeys)
        if (row.usage == usageId) return row.key;
    return std::nullopt;
}

std::optional<uint32_t> keysymForCharacter(char32_t c) {
    if (c == U'\n' || c == U'\r') return keysym::returnKey;
    if (c == U'\t') return keysym::tab;
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return std::nullopt;
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    if (c <= 0xFF) return static_cast<uint32_t>(c);
    return keysym::unicodeBase | static_cast<uint32_t>(c);
}

} // namespace dovrel::agent
