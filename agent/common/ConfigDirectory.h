#pragma once

#include <string>

namespace dovrel::agent {

// Where the agent keeps relay.json and grant.json: $XDG_CONFIG_HOME/Dovrel, by default ~/.config/Dovrel.
std::string configDirectory();

} // namespace dovrel::agent
