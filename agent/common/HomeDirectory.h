#pragma once

#include <string>

namespace dovrel::agent {

// $HOME, or the password database's entry when HOME is unset.
std::string homeDirectory();

} // namespace dovrel::agent
