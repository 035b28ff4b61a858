#include "protocol/LANInterface.h"

#include <algorithm>
#include <memory>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace wex {

std::vector<LANInterface> lanInterfaces() {
    ifaddrs* head = nullptr;
    if (getifaddrs(&head) != 0) return {};
    const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owner(head, &freeifaddrs);

    constexpr unsigned required = IFF_UP | IFF_BROADCAST | IFF_RUNNING;
    std::vector<LANInterface> out;
    for (const ifaddrs* ifa = head; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET || !ifa->ifa_netmask) continue;
        if ((ifa->ifa_flags & required) != required || (ifa->ifa_flags & IFF_LOOPBACK)) continue;
        const auto* addr = reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr);
        const auto* mask = reinterpret_cast<const sockaddr_in*>(ifa->ifa_netmask);
        const uint32_t a = ntohl(addr->sin_addr.s_addr);
        const uint32_t m = ntohl(mask->sin_addr.s_addr);
        if (a == 0 || m == 0) continue;
        out.push_back({ifa->ifa_name ? ifa->ifa_name : "", a, m});
    }
    return out;
}

std::vector<LANInterface> eligibleInterfaces(const std::vector<LANInterface>& usable, uint32_t target,
                                             bool allInterfaces) {
    if (target != 0) {
        std::vector<LANInterface> matching;
        std::copy_if(usable.begin(), usable.end(), std::back_inserter(matching),
                     [&](const LANInterface& i) { return sameSubnet(i.address, target, i.mask); });
        if (!matching.empty()) return matching;
    }
    return allInterfaces ? usable : std::vector<LANInterface>{};
}

std::vector<LANInterface> eligibleInterfaces(uint32_t target, bool allInterfaces) {
    return eligibleInterfaces(lanInterfaces(), target, allInterfaces);
}

bool isOnSameLAN(const std::vector<LANInterface>& usable, uint32_t target) {
    if (target == 0) return false;
    return std::any_of(usable.begin(), usable.end(),
                       [&](const LANInterface& i) { return sameSubnet(i.address, target, i.mask); });
}

bool isOnSameLAN(uint32_t target) { return isOnSameLAN(lanInterfaces(), target); }

} // namespace wex
