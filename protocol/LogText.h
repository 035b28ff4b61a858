#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace wex {

// Texts that arrive from the network (device names, wake names, relay redirects, error texts, file
// names) end up in log lines. There they must never start a line of their own, fake one, reorder what a
// reader sees, or make a line of tens of kilobytes.

// The longest piece of network text a log line carries, in bytes.
inline constexpr std::size_t maxLogTextBytes = 200;

// True for a code point that breaks or disguises a line: C0 and C1 controls, DEL, the line and
// paragraph separators U+2028 and U+2029, and the marks that change the direction text is shown in
// (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069).
bool isLineBreakingOrHidden(char32_t codePoint);

// True for the marks among them that change the direction text is shown in.
bool isDirectionMark(char32_t codePoint);

// `text` with every direction mark replaced by `replacement`; everything else, ill-formed bytes too,
// stays as it was. For names that must stay usable rather than be refused.
std::string replaceDirectionMarks(std::string_view text, std::string_view replacement);

// True when `text` holds such a code point (ill-formed UTF-8 is not looked into byte by byte: only
// its well-formed characters are checked).
bool containsLineBreakingOrHidden(std::string_view text);

// `text` made fit for one log line: ill-formed UTF-8 repaired, every code point above replaced by
// `replacement`, and cut at a character boundary to at most `limit` bytes, with "…" after a cut.
std::string logText(std::string_view text, std::size_t limit = maxLogTextBytes, char replacement = '?');

} // namespace wex
