#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dovrel::agent {

// The lines of `text` split at line feeds, empty ones dropped.
std::vector<std::string> splitLines(std::string_view text);
// `text` without spaces and tabs at either end.
std::string trimBlanks(std::string_view text);
// `text` without white space (spaces, tabs, line ends) at either end.
std::string trimWhite(std::string_view text);
// The first line that is not empty, trimmed of blanks; empty when there is none.
std::string firstNonEmptyLine(std::string_view text);
// `text` cut to its longest prefix that ends on a whole UTF-8 character: only an incomplete sequence
// at the very end is dropped. Invalid bytes elsewhere are left for the caller to judge.
std::string_view dropIncompleteUTF8Tail(std::string_view text);
// Whether `text` is well-formed UTF-8.
bool isValidUTF8(std::string_view text);

} // namespace dovrel::agent
