#include "protocol/SessionCmd.h"

namespace wex {

std::optional<SessionCmd> sessionCmdFromRaw(uint8_t raw) {
    if (raw >= 1 && raw <= 6) return static_cast<SessionCmd>(raw);
    return std::nullopt;
}

} // namespace wex
