#pragma once

#include <cstdint>

namespace dovrel::agent {

// What the agent sends pictures at: bits and pictures a second.
struct SendRate {
    int64_t bitRate = 0;
    int frameRate = 0;
    bool operator==(const SendRate&) const = default;
};

} // namespace dovrel::agent
