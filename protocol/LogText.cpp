#include "protocol/LogText.h"

#include <algorithm>

#include "protocol/UTF8.h"

namespace wex {

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
        const UTF8Char d = firstUTF8Char(text.substr(i));
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
        const UTF8Char d = firstUTF8Char(text.substr(i));
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
        const UTF8Char d = firstUTF8Char(std::string_view(repaired).substr(i));
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
