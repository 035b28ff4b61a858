#include "protocol/ControlType.h"

#include <array>

namespace wex {

namespace {

constexpr std::array<std::string_view, controlTypeCount> names = {
    "hello",        "helloAck",    "auth",        "authOk",     "authFail",       "capsRequest",
    "caps",         "displayList", "streamStart", "streamStop", "qualitySet",     "keyframeRequest",
    "ping",         "pong",        "clipboard",   "pause",      "resume",         "resumeSession",
    "bye",          "error",       "inputAck",    "cursor",     "sessionCommand", "fileOffer",
    "fileChunk",    "fileEnd",     "deckStat",    "unpair",     "clipFilesOffer", "clipFilePull",
    "clipFileData", "wakePeer",    "wakePeerAck",
};

} // namespace

std::optional<ControlType> controlTypeFromRaw(uint8_t raw) {
    if (raw >= 1 && raw <= controlTypeCount) return static_cast<ControlType>(raw);
    return std::nullopt;
}

std::string_view controlTypeName(ControlType type) {
    const auto raw = static_cast<uint8_t>(type);
    if (raw >= 1 && raw <= controlTypeCount) return names[raw - 1];
    return "unknown";
}

std::optional<VideoType> videoTypeFromRaw(uint8_t raw) {
    if (raw == 1) return VideoType::nal;
    return std::nullopt;
}

} // namespace wex
