#pragma once

#include <string_view>

namespace dovrel::agent {

// Names the calling thread for debuggers, top and crash reports. The kernel keeps 15 bytes, so
// "dovrel.capture.audio" shows as "dovrel.capture."; the full label is what our own code logs.
void nameCurrentThread(std::string_view label);

} // namespace dovrel::agent
