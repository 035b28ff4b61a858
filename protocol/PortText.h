#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace wex {

// A port number as text from a link, a configuration file or a user: one to five decimal digits worth
// 0 to 65535. Nothing for anything else (an empty text, a sign, blanks, letters, too many digits or too
// large a value); what a caller falls back to then is its own rule.
std::optional<uint16_t> parsePort(std::string_view text);

} // namespace wex
