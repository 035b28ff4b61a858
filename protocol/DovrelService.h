#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace wex::DovrelService {

inline constexpr std::string_view type = "_dovrel._tcp";
inline constexpr std::string_view keyDeviceId = "id";
inline constexpr std::string_view keyName = "n";
inline constexpr std::string_view keyReady = "r";
inline constexpr std::string_view keyVersion = "v";

// One TXT entry ("key=value") holds at most 255 bytes.
inline constexpr std::size_t maxTxtEntryBytes = 255;

using TxtRecord = std::map<std::string, std::string, std::less<>>;

struct Advert {
    std::string deviceId;
    std::string name;
    bool ready = true;
    bool operator==(const Advert&) const = default;
};

// The four keys; a name too long for its entry is cut at a character boundary.
TxtRecord txt(std::string_view deviceId, std::string_view name, bool ready, int version);

// Nothing when "id" or "n" is missing or empty; a record without "r" counts as ready.
std::optional<Advert> parse(const TxtRecord& record);

} // namespace wex::DovrelService
