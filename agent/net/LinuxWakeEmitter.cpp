#include <array>
#include <cstring>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "agent/net/LinuxWakeEmitter.h"
#include "protocol/MagicPacket.h"

namespace dovrel::agent {

namespace {

class SocketHandle {
public:
    explicit SocketHandle(int fd) : fd_(fd) {}
    ~SocketHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    SocketHandle(const SocketHandle&) = delete;
    SocketHandle& operator=(const SocketHandle&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

bool setFlag(int fd, int option) {
    const int on = 1;
    return ::setsockopt(fd, SOL_SOCKET, option, &on, sizeof on) == 0;
}

sockaddr_in ipv4(uint32_t hostOrderAddress, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(hostOrderAddress);
    return sa;
}

// One datagram to `to`, leaving through interface `ifindex`; true when all of it was handed to the
// kernel. Naming the interface per packet (IP_PKTINFO) keeps the limited broadcast on it even where
// the socket could not be bound to the device.
bool sendThrough(int fd, unsigned ifindex, const wex::Bytes& packet, const sockaddr_in& to) {
    iovec iov{};
    iov.iov_base = const_cast<uint8_t*>(packet.data());
    iov.iov_len = packet.size();

    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in_pktinfo))> control{};
    msghdr msg{};
    msg.msg_name = const_cast<sockaddr_in*>(&to);
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control.data();
    msg.msg_controllen = control.size();
    cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
    cmsg->cmsg_level = IPPROTO_IP;
    cmsg->cmsg_type = IP_PKTINFO;
    cmsg->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = static_cast<int>(ifindex);
    std::memcpy(CMSG_DATA(cmsg), &info, sizeof info);

    const ssize_t sent = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
    return sent == static_cast<ssize_t>(packet.size());
}

class LinuxWakeEmitter final : public WakeEmitter {
public:
    std::vector<std::string> send(const wex::MACAddress& mac,
                                  const std::vector<wex::LANInterface>& interfaces) override {
        std::vector<std::string> sentOn;
        if (interfaces.empty()) return sentOn;
        const wex::Bytes packet = wex::MagicPacket::bytes(mac);
        for (const wex::LANInterface& iface : interfaces)
            if (sendOn(iface, packet)) sentOn.push_back(iface.name);
        return sentOn;
    }

private:
    static bool sendOn(const wex::LANInterface& iface, const wex::Bytes& packet) {
        if (iface.name.empty() || iface.name.size() >= IFNAMSIZ) return false;
        const unsigned ifindex = ::if_nametoindex(iface.name.c_str());
        if (ifindex == 0) return false; // gone since the list was read

        const SocketHandle sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!sock.valid()) return false;
        if (!setFlag(sock.get(), SO_BROADCAST)) return false;
        (void)setFlag(sock.get(), SO_REUSEADDR);
        // Without the device binding a limited broadcast would follow the default route, whatever the
        // interface asked for; where the kernel refuses it, the per-packet interface still holds.
        (void)::setsockopt(sock.get(), SOL_SOCKET, SO_BINDTODEVICE, iface.name.c_str(),
                           static_cast<socklen_t>(iface.name.size()));
        const sockaddr_in local = ipv4(iface.address, 0);
        if (::bind(sock.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return false;

        bool any = false;
        for (const uint32_t destination : {iface.directedBroadcast(), uint32_t{0xFFFFFFFF}})
            for (const uint16_t port : wex::MagicPacket::ports)
                any = sendThrough(sock.get(), ifindex, packet, ipv4(destination, port)) || any;
        return any;
    }
};

} // namespace

std::unique_ptr<WakeEmitter> makeLinuxWakeEmitter() { return std::make_unique<LinuxWakeEmitter>(); }

} // namespace dovrel::agent
