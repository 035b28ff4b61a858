#pragma once

#include <cstdint>

namespace dovrel::agent::MonoClock {

// Monotonic nanoseconds, taken once on first use; wire time stamps count microseconds from here.
uint64_t base();
// Microseconds since base(), for the 64-bit clock fields of HelloAck and Pong.
uint64_t micros();
// Microseconds since base(), cut to the 32 bits of a wire field.
uint32_t wireMicros();

} // namespace dovrel::agent::MonoClock
