#include "agent/common/ConfigDirectory.h"

#include <cstdlib>

#include "agent/common/HomeDirectory.h"

namespace dovrel::agent {

std::string configDirectory() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') return std::string(xdg) + "/Dovrel";
    return homeDirectory() + "/.config/Dovrel";
}

} // namespace dovrel::agent
