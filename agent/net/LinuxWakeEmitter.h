#pragma once

#include <memory>

#include "agent/core/WakeEmitter.h"

namespace dovrel::agent {

// UDP sockets bound to the interface (SO_BINDTODEVICE) and to its address, with the interface also named
// on every send, so that the limited broadcast leaves through that interface and not the default route.
std::unique_ptr<WakeEmitter> makeLinuxWakeEmitter();

} // namespace dovrel::agent
