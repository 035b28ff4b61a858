#pragma once

#include <cstdint>
#include <optional>

#include "protocol/FlagSet.h"

namespace wex {

// The four streams of a session; the raw value is header byte 2.
enum class Stream : uint8_t { control = 1, video = 2, input = 3, audio = 4 };

std::optional<Stream> streamFromRaw(uint8_t raw);

// Header byte 10.
enum class HeaderFlag : uint8_t {
    encryptedApp = 0x01, // payload is sealed
    reliable = 0x02,     // declared only
    fragment = 0x04,     // payload starts with a FragmentHeader
    compressed = 0x08,   // declared only
    endFrag = 0x10,      // last piece of a fragmented video payload
};
using HeaderFlags = FlagSet<HeaderFlag>;

// Message type of the video stream (header byte 3).
enum class VideoType : uint8_t { nal = 1 };

// Message type of the input stream (header byte 3).
enum class InputMsgType : uint8_t { batch = 1 };
std::optional<InputMsgType> inputMsgTypeFromRaw(uint8_t raw);

} // namespace wex
