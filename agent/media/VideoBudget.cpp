#include "agent/media/VideoBudget.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

#include "agent/media/VideoPacketizer.h"
#include "protocol/CommonHeader.h"
#include "protocol/SecureSession.h"

namespace dovrel::agent {

std::optional<int64_t> parseDecimalInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    // Parse the magnitude as unsigned so that the most negative value still fits.
    uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    constexpr uint64_t maxPositive = static_cast<uint64_t>(INT64_MAX);
    if (negative) {
        if (magnitude > maxPositive + 1) return std::nullopt;
        return magnitude == maxPositive + 1 ? INT64_MIN : -static_cast<int64_t>(magnitude);
    }
    if (magnitude > maxPositive) return std::nullopt;
    return static_cast<int64_t>(magnitude);
}

int64_t VideoBudget::encoderShareOf(int64_t rate) {
    constexpr int64_t piece = VideoPacketizer::pieceBytes;
    constexpr int64_t onWire = piece + wex::FragmentHeader::size + wex::SecureSession::overhead;
    return rate / onWire * piece + rate % onWire * piece / onWire;
}

VideoBudget VideoBudget::withOverrides(std::optional<std::string_view> bitRate,
                                       std::optional<std::string_view> frameRate) const {
    int64_t bits = averageBitRate;
    int64_t fps = expectedFrameRate;
    if (bitRate)
        if (const auto v = parseDecimalInteger(*bitRate)) bits = std::clamp(*v, minBitRate, maxBitRate);
    if (frameRate)
        if (const auto v = parseDecimalInteger(*frameRate)) fps = std::clamp<int64_t>(*v, 5, 60);
    return at(bits, static_cast<int>(fps));
}

VideoBudget VideoBudget::at(int64_t bitRate, int frameRate) const {
    const int64_t ratio = maxKeyFrameInterval / std::max(expectedFrameRate, 1);
    const int64_t interval = std::max<int64_t>(int64_t{frameRate} * ratio, 60);
    return {bitRate, bitRate / 4, frameRate, static_cast<int>(std::min<int64_t>(interval, INT32_MAX))};
}

VideoBudget VideoBudget::withEnvironmentOverrides() const {
    const auto env = [](const char* name) -> std::optional<std::string_view> {
        if (const char* v = std::getenv(name)) return std::string_view(v);
        return std::nullopt;
    };
    return withOverrides(env("DOVREL_BITRATE"), env("DOVREL_FPS"));
}

std::string VideoBudget::logLine(int refreshPictures) const {
    const std::string ending = refreshPictures > 0 ? "a refresh wave every " + std::to_string(refreshPictures)
                                                   : "IDR every " + std::to_string(maxKeyFrameInterval);
    return "• encoder budget: " + std::to_string(averageBitRate / 1000000) + " Mbit/s, " +
           std::to_string(expectedFrameRate) + " fps, " + ending + " frames";
}

} // namespace dovrel::agent
