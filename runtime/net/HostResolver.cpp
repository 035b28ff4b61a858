#include "runtime/net/HostResolver.h"

#include <algorithm>

#include <netdb.h>
#include <sys/socket.h>

namespace dovrel {

namespace {

class SystemResolver final : public HostResolver {
public:
    std::vector<std::string> addressesOf(const std::string& host) override {
        std::vector<std::string> found;
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return found;
        for (const addrinfo* a = list; a; a = a->ai_next) {
            char text[NI_MAXHOST];
            if (::getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0) continue;
            if (std::find(found.begin(), found.end(), text) == found.end()) found.emplace_back(text);
        }
        ::freeaddrinfo(list);
        return found;
    }
};

} // namespace

std::shared_ptr<HostResolver> makeSystemResolver() { return std::make_shared<SystemResolver>(); }

} // namespace dovrel
