#include "controller/client/PasteableText.h"

#include <cstdint>

namespace dovrel::controller {

namespace {

// The scalar starting at `at` and its length in bytes; the text is valid UTF-8.
char32_t scalarAt(std::string_view s, std::size_t at, std::size_t& length) {
    const auto b = static_cast<uint8_t>(s[at]);
    length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (at + length > s.size()) {
        length = 1;
        return b;
    }
    if (length == 1) return b;
    char32_t c = b & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i)
        c = (c << 6) | (static_cast<uint8_t>(s[at + i]) & 0x3F);
    return c;
}

bool leftOut(char32_t c) {
    if (c == U'\t' || c == U'\n' || c == U'\r') return false;
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true; // C0, DEL and C1 controls
    if (c >= 0x202A && c <= 0x202E) return true;           // embeddings, pop, overrides
    return c >= 0x2066 && c <= 0x2069;                     // isolates
}

} // namespace

std::string pasteableText(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        std::size_t length = 1;
        const char32_t c = scalarAt(utf8, at, length);
        if (!leftOut(c)) out.append(utf8.substr(at, length));
        at += length;
    }
    return out;
}

} // namespace dovrel::controller
