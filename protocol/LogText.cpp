#include "protocol/LogText.h"

#include <algorithm>
#include <cstdint>

#include "protocol/UTF8.h"

namespace wex {

namespace {

struct Decoded {
    char32_t codePoint; // meaningful only when `length` is not 0
    std::size_t length; // bytes of a well-formed character; 0 for a byte that starts none
};

// One character of UTF-8 at the start of `s` (not empty). Overlong forms and surrogates count as
// ill-formed, as in repairUTF8.
Decoded decodeOne(std::string_view s) {
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

} // namespace

bool isDirectionMark(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool isLineBreakingOrHidden(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || isDirectionMark(c);
}

std::string replaceDirectionMarks(std::string_view text, std::string_view replacement) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const Decoded d = decodeOne(text.substr(i));
        if (d.length == 0) {
            out += text[i++];
            continue;
        }
        if (isDirectionMark(d.codePoint))
            out += replacement;
        else
            out.append(text, i, d.length);
        i += d.length;
    }
    return out;
}

bool containsLineBreakingOrHidden(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const Decoded d = decodeOne(text.substr(i));
        if (d.length == 0) {
            ++i;
            continue;
        }
        if (isLineBreakingOrHidden(d.codePoint)) return true;
        i += d.length;
    }
    return false;
}

std::string logText(std::string_view text, std::size_t limit, char replacement) {
    // Only the part that can be shown is looked at: a 64 KB name costs no more than a short one.
    constexpr std::size_t lookAt = 4;
    const bool cut = text.size() > limit;
    const std::string repaired = repairUTF8(text.substr(0, cut ? limit + lookAt : text.size()));
    std::string out;
    out.reserve(std::min(repaired.size(), limit) + 3);
    std::size_t i = 0;
    while (i < repaired.size()) {
        const Decoded d = decodeOne(std::string_view(repaired).substr(i));
        const std::size_t length = d.length == 0 ? 1 : d.length; // repaired text is well formed
        const bool hidden = isLineBreakingOrHidden(d.codePoint);
        if (out.size() + (hidden ? 1 : length) > limit) return out + "…";
        if (hidden)
            out += replacement;
        else
            out.append(repaired, i, length);
        i += length;
    }
    return cut ? out + "…" : out;
}

} // namespace wex
