#pragma once

#include <optional>

namespace dovrel::controller {

// Whether the pointer's primary button is down now, as the X server has it; nothing off X11. Asked
// where Qt's own idea can be stale: a window manager that grabs a press to focus the window can keep
// its release, and Qt then believes the button held until the next press.
std::optional<bool> primaryButtonHeldOnX11();

} // namespace dovrel::controller
