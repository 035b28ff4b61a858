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

// What it shows about files copied on the agent's computer that could not be received here; `why` is
// in words for the window.
inline std::string clipFilesNotReceived(const std::string& why) {
    return "Couldn't receive the copied files: " + why + ".";
}
inline std::string clipFilesPartlyReceived(std::size_t failed, std::size_t all, const std::string& why) {
    return "Couldn't receive " + std::to_string(failed) + " of the " + std::to_string(all) + " copied files: " + why +
           ".";
}
inline constexpr std::string_view clipFilesOverLimits =
    "there are more of them, or they are larger, than this computer takes at once (64 files, 2 GB each, 4 GB in "
    "all)";
inline constexpr std::string_view clipFilesIncomplete = "they didn't arrive whole";
inline std::string clipFilesUnwritable(const std::string& error) { return "writing them failed (" + error + ")"; }

} // namespace dovrel::controller::texts
