#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "protocol/Stream.h"

namespace wex {

// The message type of a control-stream frame (header byte 3). Messages the agent never sends or reads
// keep their numbers so that the catalogue stays the one every peer speaks.
enum class ControlType : uint8_t {
    hello = 1,
    helloAck = 2,
    auth = 3,
    authOk = 4,
    authFail = 5,
    capsRequest = 6,
    caps = 7,
    displayList = 8,
    streamStart = 9,
    streamStop = 10,
    qualitySet = 11,
    keyframeRequest = 12,
    ping = 13,
    pong = 14,
    clipboard = 15,
    pause = 16,
    resume = 17,
    resumeSession = 18,
    bye = 19,
    error = 20,
    inputAck = 21,
    cursor = 22,
    sessionCommand = 23,
    fileOffer = 24,
    fileChunk = 25,
    fileEnd = 26,
    deckStat = 27,
    unpair = 28,
    clipFilesOffer = 29,
    clipFilePull = 30,
    clipFileData = 31,
    wakePeer = 32,
    wakePeerAck = 33,
};

inline constexpr uint8_t controlTypeCount = 33;

// The message for 1-33; nothing for 0 and 34-255.
std::optional<ControlType> controlTypeFromRaw(uint8_t raw);
// The case name ("hello", "wakePeerAck"), for log lines.
std::string_view controlTypeName(ControlType type);

// The video stream's one message type; nothing for any other byte.
std::optional<VideoType> videoTypeFromRaw(uint8_t raw);

// The audio stream's message type: every audio frame carries one AudioFrame.
inline constexpr uint8_t audioFrameMsgType = 1;

} // namespace wex
