#include "agent/net/PrimaryInterface.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "protocol/NetAddress.h"

namespace dovrel::agent {

namespace {

constexpr unsigned routeUp = 0x0001; // RTF_UP

std::optional<uint32_t> hexField(std::string_view text) {
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<uint32_t> decimalField(std::string_view text) {
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

bool isLinkLocal(uint32_t address) { return (address >> 16) == 0xA9FE; } // 169.254.0.0/16

std::optional<std::string> readFirstLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    return line;
}

} // namespace

std::optional<std::string> defaultRouteInterface(std::string_view table) {
    std::optional<std::string> best;
    uint32_t bestMetric = 0;
    bool header = true;
    while (!table.empty()) {
        const std::size_t nl = table.find('\n');
        const std::string_view line = table.substr(0, nl);
        table = nl == std::string_view::npos ? std::string_view{} : table.substr(nl + 1);
        const auto f = fields(line);
        if (header) { // "Iface Destination Gateway Flags RefCnt Use Metric Mask ..."
            if (f.size() < 8 || f[0] != "Iface") return std::nullopt;
            header = false;
            continue;
        }
        if (f.size() < 8) continue;
        const auto destination = hexField(f[1]);
        const auto flags = hexField(f[3]);
        const auto metric = decimalField(f[6]);
        const auto mask = hexField(f[7]);
        if (!destination || !flags || !metric || !mask) continue;
        if (*destination != 0 || *mask != 0 || !(*flags & routeUp)) continue;
        if (!best || *metric < bestMetric) {
            best = std::string(f[0]);
            bestMetric = *metric;
        }
    }
    return best;
}

std::optional<InterfaceAddress> primaryLANInterface(const std::vector<InterfaceAddress>& addresses,
                                                    const std::optional<std::string>& preferred) {
    const auto usable = [](const InterfaceAddress& a) { return !a.loopback && a.ipv4 != 0 && !isLinkLocal(a.ipv4); };
    for (const bool preferredPass : {true, false}) {
        if (preferredPass && !preferred) continue;
        for (const InterfaceAddress& a : addresses) {
            const bool onPreferred = preferred && a.name == *preferred;
            if (onPreferred != preferredPass || !usable(a)) continue;
            return a;
        }
    }
    return std::nullopt;
}

std::optional<std::string> primaryLANIP(const std::vector<InterfaceAddress>& addresses,
                                        const std::optional<std::string>& preferred) {
    const auto entry = primaryLANInterface(addresses, preferred);
    if (!entry) return std::nullopt;
    return wex::formatIPv4(entry->ipv4);
}

std::optional<std::string> primaryMAC(const std::optional<std::string>& preferred,
                                      const std::vector<std::string>& others, const HardwareAddressReader& read) {
    std::vector<std::string> candidates;
    if (preferred) candidates.push_back(*preferred);
    candidates.insert(candidates.end(), others.begin(), others.end());
    for (const std::string& name : candidates) {
        const auto text = read(name);
        if (!text) continue;
        const auto mac = wex::parseMAC(*text);
        if (!mac || std::all_of(mac->begin(), mac->end(), [](uint8_t b) { return b == 0; })) continue;
        return wex::formatMAC(*mac);
    }
    return std::nullopt;
}

std::optional<std::string> primaryMAC(const std::vector<InterfaceAddress>& addresses,
                                      const std::optional<std::string>& defaultRoute,
                                      const std::vector<std::string>& physical, const HardwareAddressReader& read) {
    // A machine without a default route still names an address in its link (the first usable one):
    // the card it wakes is the one holding that address, not whichever the route table would name.
    const auto lan = primaryLANInterface(addresses, defaultRoute);
    std::vector<std::string> others;
    if (lan && defaultRoute && *defaultRoute != lan->name) others.push_back(*defaultRoute);
    others.insert(others.end(), physical.begin(), physical.end());
    return primaryMAC(lan ? std::optional(lan->name) : defaultRoute, others, read);
}

std::vector<InterfaceAddress> systemInterfaceAddresses() {
    ifaddrs* head = nullptr;
    if (::getifaddrs(&head) != 0) return {};
    const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owner(head, &::freeifaddrs);
    std::vector<InterfaceAddress> out;
    for (const ifaddrs* ifa = head; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET || !ifa->ifa_name) continue;
        const auto* sin = reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr);
        out.push_back({ifa->ifa_name, ntohl(sin->sin_addr.s_addr), (ifa->ifa_flags & IFF_LOOPBACK) != 0});
    }
    return out;
}

std::optional<std::string> systemDefaultRouteInterface() {
    std::ifstream in("/proc/net/route");
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return defaultRouteInterface(text.str());
}

std::optional<std::string> primaryLANIP() {
    return primaryLANIP(systemInterfaceAddresses(), systemDefaultRouteInterface());
}

std::optional<std::string> primaryMAC() {
    const std::filesystem::path sysNet = "/sys/class/net";
    std::vector<std::string> physical;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(sysNet, ec)) {
        std::error_code linkEc;
        if (std::filesystem::exists(entry.path() / "device", linkEc)) physical.push_back(entry.path().filename());
    }
    std::sort(physical.begin(), physical.end());
    return primaryMAC(systemInterfaceAddresses(), systemDefaultRouteInterface(), physical,
                      [&](const std::string& name) -> std::optional<std::string> {
                          if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
                              return std::nullopt;
                          return readFirstLine(sysNet / name / "address");
                      });
}

namespace {

class SystemLocalAddress final : public LocalAddress {
public:
    std::optional<std::string> lanIP() override { return primaryLANIP(); }
    std::optional<std::string> mac() override { return primaryMAC(); }
};

} // namespace

std::unique_ptr<LocalAddress> makeSystemLocalAddress() { return std::make_unique<SystemLocalAddress>(); }

} // namespace dovrel::agent
