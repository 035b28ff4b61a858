#pragma once

#include <cstdint>
#include <optional>

namespace wex {

// The command byte of a SessionCommand. Windows agents act on all of them; ours acts on the ones its
// desktop has (rest mode, launcher).
enum class SessionCmd : uint8_t {
    ctrlAltDel = 1,
    lockWorkstation = 2,
    signOut = 3,
    showLaunchpad = 4,
    restOn = 5,
    restOff = 6,
};

// The command for 1-6; nothing for any other byte.
std::optional<SessionCmd> sessionCmdFromRaw(uint8_t raw);

} // namespace wex
