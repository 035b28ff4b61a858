#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "protocol/Bytes.h"

namespace wex {

// Converts bytes to well-formed UTF-8. Each maximal subpart of an ill-formed sequence becomes one
// U+FFFD, the rule Unicode recommends, so C0 80 gives two replacements and E2 82 41 gives one and "A".
std::string repairUTF8(ByteView bytes);
std::string repairUTF8(std::string_view text);

// The length of the longest prefix of `text` that is at most `limit` bytes and does not end inside a
// multi-byte character. A well-formed text is never cut mid-character; stray bytes count as characters.
std::size_t utf8PrefixLength(std::string_view text, std::size_t limit);

// One character of UTF-8 at the start of a text.
struct UTF8Char {
    char32_t codePoint; // meaningful only when `length` is not 0
    std::size_t length; // bytes of a well-formed character; 0 for a byte that starts none
};
// The character `s` (not empty) starts with. Overlong forms and surrogates count as ill-formed, as in
// repairUTF8.
UTF8Char firstUTF8Char(std::string_view s);

} // namespace wex
