#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dovrel::controller {

// Local-network ports named in the environment, the same variables the agent reads, so that one
// setting moves both ends: DOVREL_VIDEO_PORT (where the video arrives, our UDP listener; 0 takes any
// free one), DOVREL_INPUT_PORT (the agent's UDP input port) and DOVREL_CONTROL_PORT (the agent's TCP
// control port for a host named without one). Nothing when unset or empty; `error` says which one is
// not a port.
struct EnvironmentPorts {
    std::optional<uint16_t> video;
    std::optional<uint16_t> input;
    std::optional<uint16_t> control;

    static EnvironmentPorts read(std::string& error);
};

} // namespace dovrel::controller
