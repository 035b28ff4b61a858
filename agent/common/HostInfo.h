#pragma once

#include <string>

namespace dovrel::agent {

// The name controllers see: the pretty host name of /etc/machine-info, else the host name, else
// "Computer". (The primary address and hardware address are in PrimaryInterface.h.)
std::string hostDisplayName();

} // namespace dovrel::agent
