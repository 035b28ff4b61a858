#include "protocol/DovrelService.h"

#include "protocol/UTF8.h"

namespace wex::DovrelService {

TxtRecord txt(std::string_view deviceId, std::string_view name, bool ready, int version) {
    const std::size_t nameRoom = maxTxtEntryBytes - keyName.size() - 1; // "n="
    TxtRecord record;
    record.emplace(keyDeviceId, deviceId);
    record.emplace(keyName, name.substr(0, utf8PrefixLength(name, nameRoom)));
    record.emplace(keyReady, ready ? "1" : "0");
    record.emplace(keyVersion, std::to_string(version));
    return record;
}

std::optional<Advert> parse(const TxtRecord& record) {
    if (record.empty()) return std::nullopt;
    const auto id = record.find(keyDeviceId);
    if (id == record.end() || id->second.empty()) return std::nullopt;
    const auto name = record.find(keyName);
    if (name == record.end() || name->second.empty()) return std::nullopt;
    const auto ready = record.find(keyReady);
    return Advert{id->second, name->second, ready == record.end() || ready->second == "1"};
}

} // namespace wex::DovrelService
