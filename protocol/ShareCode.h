#pragma once

#include <cstddef>
#include <string_view>

namespace wex {

// How many characters a share code has once the separators people type ("-", " ", tab, "_") are left
// out. Counts user-perceived characters, so an accented letter or an emoji counts once.
std::size_t shareCodeLength(std::string_view utf8);

} // namespace wex
