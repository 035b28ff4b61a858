#include "controller/client/input/PasteableText.h"

#include "protocol/UTF8.h"

namespace dovrel::controller {

namespace {

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
        const wex::UTF8Char c = wex::firstUTF8Char(utf8.substr(at));
        // The text is well formed; a stray byte would be kept as it is.
        const std::size_t length = c.length == 0 ? 1 : c.length;
        if (c.length == 0 || !leftOut(c.codePoint)) out.append(utf8.substr(at, length));
        at += length;
    }
    return out;
}

} // namespace dovrel::controller
