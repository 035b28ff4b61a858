#include "agent/service/HostInfo.h"

#include <arpa/inet.h>
#include <cstdio>
#include <fstream>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <memory>
#include <net/if.h>
#include <sstream>
#include <unistd.h>

namespace dovrel::agent {

namespace {

struct IfAddrsDeleter {
    void operator()(ifaddrs* p) const { ::freeifaddrs(p); }
};

std::unique_ptr<ifaddrs, IfAddrsDeleter> listInterfaces() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return nullptr;
    return std::unique_ptr<ifaddrs, IfAddrsDeleter>(list);
}

std::string readText(const char* path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string unquote(std::string v) {
    while (!v.empty() && (v.back() == '\r' || v.back() == ' ' || v.back() == '\t'))
        v.pop_back();
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

} // namespace

std::string defaultRouteInterface(std::string_view procNetRoute) {
    std::istringstream in{std::string(procNetRoute)};
    std::string line;
    std::getline(in, line); // column titles
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway, flags, refcnt, use, metric, mask;
        if (!(fields >> iface >> destination >> gateway >> flags >> refcnt >> use >> metric >> mask)) continue;
        if (destination == "00000000" && mask == "00000000") return iface;
    }
    return {};
}

std::optional<std::string> choosePrimaryIPv4(const std::vector<InterfaceAddress>& all, const std::string& primary) {
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& a : all) {
            if ((a.name == primary) != (pass == 0) || a.loopback || a.ipv4.empty()) continue;
            if (a.ipv4.rfind("169.254", 0) == 0) continue;
            return a.ipv4;
        }
    }
    return std::nullopt;
}

std::optional<std::string> choosePrimaryMAC(const std::vector<InterfaceHardware>& all, const std::string& primary) {
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& h : all) {
            if ((h.name == primary) != (pass == 0) || h.loopback) continue;
            bool zero = true;
            for (uint8_t b : h.mac)
                zero = zero && b == 0;
            if (zero) continue;
            char text[18];
            std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", h.mac[0], h.mac[1], h.mac[2], h.mac[3],
                          h.mac[4], h.mac[5]);
            return std::string(text);
        }
    }
    return std::nullopt;
}

std::optional<std::string> primaryLANIP() {
    const auto list = listInterfaces();
    if (!list) return std::nullopt;
    std::vector<InterfaceAddress> all;
    for (const ifaddrs* i = list.get(); i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN] = {};
        if (!::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text))
            continue;
        all.push_back({i->ifa_name, text, (i->ifa_flags & IFF_LOOPBACK) != 0});
    }
    return choosePrimaryIPv4(all, defaultRouteInterface(readText("/proc/net/route")));
}

std::optional<std::string> primaryMAC() {
    const auto list = listInterfaces();
    if (!list) return std::nullopt;
    std::vector<InterfaceHardware> all;
    for (const ifaddrs* i = list.get(); i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_PACKET) continue;
        const auto* ll = reinterpret_cast<const sockaddr_ll*>(i->ifa_addr);
        if (ll->sll_halen != 6) continue;
        InterfaceHardware h{i->ifa_name, {}, (i->ifa_flags & IFF_LOOPBACK) != 0};
        for (std::size_t k = 0; k < 6; ++k)
            h.mac[k] = ll->sll_addr[k];
        all.push_back(h);
    }
    return choosePrimaryMAC(all, defaultRouteInterface(readText("/proc/net/route")));
}

std::string hostDisplayName() {
    std::istringstream info(readText("/etc/machine-info"));
    std::string line;
    while (std::getline(info, line)) {
        if (line.rfind("PRETTY_HOSTNAME=", 0) == 0) {
            const std::string name = unquote(line.substr(16));
            if (!name.empty()) return name;
        }
    }
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0 && host[0]) return host;
    return "Computer";
}

} // namespace dovrel::agent
