#pragma once

#include <string>
#include <string_view>

namespace dovrel::controller::texts {

// What the session window shows about a file sent to the agent.
inline constexpr std::string_view fileNotConnected = "Not connected.";
inline std::string fileUnreadable(const std::string& why) { return "Couldn't read that file: " + why; }
inline std::string fileSessionLost(const std::string& name) {
    return "Couldn't send " + name + ": the session ended before it arrived.";
}

} // namespace dovrel::controller::texts
