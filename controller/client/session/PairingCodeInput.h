#pragma once

#include <string>
#include <string_view>

namespace dovrel::controller {

// A pairing code as the pairing-code key wants it: the characters the user typed or a link carried,
// without the separators people put in or paste along (blanks, tabs, line breaks, "-" and "_").
// Nothing else changes: no case folding, no other character dropped.
std::string normalizedPairingCode(std::string_view typed);

} // namespace dovrel::controller
