#include <memory>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "controller/platform/NetworkInterfaces.h"

namespace dovrel::controller {

std::optional<std::vector<InterfaceAddress>> SystemNetworkInterfaces::ipv4Addresses() const {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return std::nullopt;
    const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owned(list, &::freeifaddrs);
    std::vector<InterfaceAddress> out;
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || !i->ifa_netmask || i->ifa_addr->sa_family != AF_INET) continue;
        if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        const auto* mask = reinterpret_cast<const sockaddr_in*>(i->ifa_netmask);
        out.push_back({ntohl(address->sin_addr.s_addr), ntohl(mask->sin_addr.s_addr)});
    }
    return out;
}

} // namespace dovrel::controller
