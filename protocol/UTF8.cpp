#include "protocol/UTF8.h"

namespace wex {

namespace {

constexpr const char* replacement = "\xEF\xBF\xBD";

// Length of the well-formed sequence that starts at `i`, or 0 together with the length of the maximal
// subpart (at least 1) that must be replaced.
struct Step {
    std::size_t valid;   // bytes of a well-formed character, 0 when ill-formed
    std::size_t consume; // bytes to skip when ill-formed
};

Step scan(const uint8_t* p, std::size_t n) {
    const uint8_t b0 = p[0];
    if (b0 < 0x80) return {1, 1};
    std::size_t need;
    uint8_t lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 3;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return {0, 1};
    }
    std::size_t k = 1;
    for (; k < need; ++k) {
        if (k >= n) return {0, k};
        const uint8_t b = p[k];
        const bool ok = (k == 1) ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
        if (!ok) return {0, k};
    }
    return {need, need};
}

} // namespace

std::string repairUTF8(ByteView bytes) {
    const auto* p = bytes.data();
    const std::size_t n = bytes.size();
    std::string out;
    out.reserve(n);
    // Well-formed runs are copied whole; only ill-formed subparts are replaced.
    std::size_t runStart = 0;
    std::size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const Step s = scan(p + i, n - i);
        if (s.valid) {
            i += s.valid;
            continue;
        }
        out.append(reinterpret_cast<const char*>(p + runStart), i - runStart);
        out.append(replacement);
        i += s.consume;
        runStart = i;
    }
    out.append(reinterpret_cast<const char*>(p + runStart), n - runStart);
    return out;
}

std::string repairUTF8(std::string_view text) {
    return repairUTF8(ByteView(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

UTF8Char firstUTF8Char(std::string_view s) {
    const auto b0 = static_cast<uint8_t>(s[0]);
    if (b0 < 0x80) return {b0, 1};
    std::size_t need = 0;
    char32_t cp = 0;
    char32_t least = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 2, cp = b0 & 0x1F, least = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 3, cp = b0 & 0x0F, least = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 4, cp = b0 & 0x07, least = 0x10000;
    } else {
        return {0, 0};
    }
    if (s.size() < need) return {0, 0};
    for (std::size_t k = 1; k < need; ++k) {
        const auto b = static_cast<uint8_t>(s[k]);
        if ((b & 0xC0) != 0x80) return {0, 0};
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {0, 0};
    return {cp, need};
}

std::size_t utf8PrefixLength(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    std::size_t i = 0;
    while (i < text.size()) {
        const Step s = scan(p + i, text.size() - i);
        const std::size_t step = s.valid ? s.valid : s.consume;
        if (i + step > limit) break;
        i += step;
    }
    return i;
}

} // namespace wex
