#include "controller/app/EnvironmentPorts.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace dovrel::controller {

namespace {
std::optional<uint16_t> port(const char* name, std::string& error) {
    const char* text = std::getenv(name);
    if (!text || !*text) return std::nullopt;
    unsigned value = 0;
    const char* end = text + std::strlen(text);
    const auto [at, ec] = std::from_chars(text, end, value);
    if (ec != std::errc() || at != end || value > 65535) {
        if (error.empty()) error = std::string(name) + " is not a port: " + text;
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}
} // namespace

EnvironmentPorts EnvironmentPorts::read(std::string& error) {
    EnvironmentPorts p;
    p.video = port("DOVREL_VIDEO_PORT", error);
    p.input = port("DOVREL_INPUT_PORT", error);
    p.control = port("DOVREL_CONTROL_PORT", error);
    return p;
}

} // namespace dovrel::controller
