#pragma once

#include <string_view>

namespace dovrel::controller {

// One diagnostic line on standard error behind "[dovrel] ", without a time stamp. Never give it a
// secret: codes, keys and tokens are reported only as present or absent.
void clientLog(std::string_view line);

// The identity store's lines, behind "[dovrel] identity: ".
void identityLog(std::string_view line);

// The clipboard-file host's lines, behind "[dovrel] clip: ".
void clipLog(std::string_view line);

} // namespace dovrel::controller
