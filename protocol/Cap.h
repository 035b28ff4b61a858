#pragma once

#include <cstdint>

// The capability bits a peer announces in Hello or HelloAck.
namespace wex::Cap {

inline constexpr uint32_t cursor = 0x01;
inline constexpr uint32_t files = 0x02;
inline constexpr uint32_t deckStat = 0x04; // load statistics
inline constexpr uint32_t audio = 0x08;
inline constexpr uint32_t video = 0x10;
inline constexpr uint32_t wakeProxy = 0x20; // can wake other machines on its network
inline constexpr uint32_t h264Only = 0x40;  // decodes H.264 only

// What a Hello without capability bytes means: cursor, statistics, audio and video.
inline constexpr uint32_t assumedWhenAbsent = cursor | deckStat | audio | video;
// A client that views and drives a screen.
inline constexpr uint32_t screenClient = cursor | deckStat | audio | video;
inline constexpr uint32_t inputOnlyClient = cursor | deckStat;
// No capability at all: a maintenance session in which nothing starts.
inline constexpr uint32_t maintenance = 0;

constexpr bool isMaintenance(uint32_t caps) { return caps == maintenance; }

} // namespace wex::Cap
