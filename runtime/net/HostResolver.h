#pragma once

#include <memory>
#include <string>
#include <vector>

namespace dovrel {

// A host name's addresses, as numeric texts in the order to try them; none when it has none. Blocks for
// as long as the resolver takes, which one that does not answer makes for ever: callers look names up
// on threads they can leave behind. Any thread.
class HostResolver {
public:
    virtual ~HostResolver() = default;
    virtual std::vector<std::string> addressesOf(const std::string& host) = 0;
};

// The system's resolver (getaddrinfo), IPv6 and IPv4.
std::shared_ptr<HostResolver> makeSystemResolver();

} // namespace dovrel
