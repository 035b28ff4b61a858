#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dovrel::agent {

// The four rate settings an encoder is configured with.
struct VideoBudget {
    int64_t averageBitRate = 0;      // target bits per second
    int64_t burstBytesPerSecond = 0; // hard limit, bytes in any one-second window
    int expectedFrameRate = 0;       // frames per second
    int maxKeyFrameInterval = 0;     // frames between keyframes at most

    // The base budget of each link: 12 Mbit/s at 60 fps, an IDR every 2 s on the local network;
    // 2.5 Mbit/s at 30 fps, an IDR every 15 s on the relay.
    static VideoBudget lan() { return {12000000, 3000000, 60, 120}; }
    static VideoBudget relay() { return {2500000, 625000, 30, 450}; }
    static VideoBudget forLink(bool isRelay) { return isRelay ? relay() : lan(); }

    // The bounds of DOVREL_BITRATE. Above a gigabit no link a session crosses carries the stream, and
    // every product the rates go through (bytes to bits, the rate's steps up, a backlog's worth of
    // milliseconds, a double and back) stays far inside 64 bits and exact in a double.
    static constexpr int64_t minBitRate = 200000;
    static constexpr int64_t maxBitRate = 1000000000;

    // Applies DOVREL_BITRATE (clamped to minBitRate ... maxBitRate) and DOVREL_FPS (5 to 60) from the
    // process environment, read on every call. The burst becomes a quarter of the bit rate in bytes (twice the average
    // rate) and the keyframe spacing keeps the base's spacing in seconds, 60 frames at least.
    VideoBudget withEnvironmentOverrides() const;
    // The same rules with the variables' values given; nullopt stands for an absent variable.
    VideoBudget withOverrides(std::optional<std::string_view> bitRate, std::optional<std::string_view> frameRate) const;

    // This budget's rules at another bit rate and frame rate: the burst a quarter of the bit rate in
    // bytes, the keyframe spacing the base's in seconds (60 frames at least).
    VideoBudget at(int64_t bitRate, int frameRate) const;

    // What the encoder itself aims at so that the pictures, once cut into pieces and sealed, take
    // `rate` bits per second on the wire: every 1000 bytes of picture travel behind a fragment header
    // and the sealed frame's header and tag.
    static int64_t encoderShareOf(int64_t rate);

    // "• encoder budget: 12 Mbit/s, 60 fps, IDR every 120 frames" (whole megabits, truncated). For an
    // encoder that refreshes in waves of `refreshPictures` (above 0) instead of periodic IDRs:
    // "• encoder budget: 12 Mbit/s, 60 fps, a refresh wave every 12 frames".
    std::string logLine(int refreshPictures = 0) const;

    bool operator==(const VideoBudget&) const = default;
};

// An optional sign and decimal digits, nothing else, within 64 bits; nullopt otherwise.
std::optional<int64_t> parseDecimalInteger(std::string_view text);

} // namespace dovrel::agent
