#include "agent/net/UdpSender.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dovrel::agent {

std::shared_ptr<UdpSender> UdpSender::connectTo(const std::string& host, uint16_t port) {
    sockaddr_storage addr{};
    socklen_t len = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
    if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        len = sizeof *v4;
    } else if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        len = sizeof *v6;
    } else {
        return nullptr;
    }
    const int fd = ::socket(addr.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::shared_ptr<UdpSender>(new UdpSender(fd, host, port));
}

UdpSender::~UdpSender() { ::close(fd_); }

bool UdpSender::send(wex::ByteView datagram) const {
    while (true) {
        const ssize_t n = ::send(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        return n == static_cast<ssize_t>(datagram.size());
    }
}

} // namespace dovrel::agent
