#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace dovrel::test {

// A loopback address and port that answer nobody: it listens with a backlog of none that one unaccepted
// connection fills, so the kernel drops every further connection's SYN, as a host that is not there (or
// a network that swallows what is sent to it) would. Any free port by default; another loopback address
// than 127.0.0.1 may share a port that a server listens on there, as a name's two addresses do.
class SilentPort {
public:
    explicit SilentPort(const char* address = "127.0.0.1", uint16_t port = 0)
        : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        socklen_t len = sizeof addr;
        if (listener_ < 0 || ::inet_pton(AF_INET, address, &addr.sin_addr) != 1 ||
            ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener_, 0) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("cannot listen on a loopback port");
        port_ = ntohs(addr.sin_port);
        ::connect(filler_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    ~SilentPort() {
        ::close(filler_);
        ::close(listener_);
    }
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;
    uint16_t port() const { return port_; }

private:
    int listener_;
    int filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    uint16_t port_ = 0;
};

} // namespace dovrel::test
