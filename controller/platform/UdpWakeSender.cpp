#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "controller/platform/WakeSender.h"

namespace dovrel::controller {

namespace {

class Socket {
public:
    Socket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

sockaddr_in ipv4(uint32_t hostOrderAddress, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(hostOrderAddress);
    return sa;
}

class UdpWakeSender final : public WakeSender {
public:
    explicit UdpWakeSender(std::vector<uint16_t> ports) : ports_(std::move(ports)) {}

    bool sendBroadcast(const wex::Bytes& packet, uint32_t source, uint32_t broadcast) override {
        const Socket sock;
        if (!sock.valid()) return false;
        const int on = 1;
        if (::setsockopt(sock.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) return false;
        // Bound to the interface's own address, the datagram leaves on that network.
        const sockaddr_in local = ipv4(source, 0);
        if (::bind(sock.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return false;
        bool any = false;
        for (const uint16_t port : ports_) {
            const sockaddr_in to = ipv4(broadcast, port);
            const ssize_t sent = ::sendto(sock.get(), packet.data(), packet.size(), MSG_NOSIGNAL,
                                          reinterpret_cast<const sockaddr*>(&to), sizeof to);
            any = sent == static_cast<ssize_t>(packet.size()) || any;
        }
        return any;
    }

private:
    std::vector<uint16_t> ports_;
};

} // namespace

std::unique_ptr<WakeSender> makeUdpWakeSender(std::vector<uint16_t> ports) {
    return std::make_unique<UdpWakeSender>(std::move(ports));
}

} // namespace dovrel::controller
