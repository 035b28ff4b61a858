// Waking a saved machine: the magic packet leaves on the directed broadcast of each local network and
// is caught by a listener on loopback (127.0.0.0/8 stands in for the LAN; its broadcast is delivered
// back to this host).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "controller/platform/WakeSender.h"
#include "controller/services/MachineWaker.h"
#include "protocol/MagicPacket.h"

using namespace dovrel::controller;

namespace {

struct Interfaces final : NetworkInterfaces {
    std::optional<std::vector<InterfaceAddress>> list;
    std::optional<std::vector<InterfaceAddress>> ipv4Addresses() const override { return list; }
};

// A UDP socket on a free port of every address, closed at the end.
struct Listener {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    uint16_t port = 0;
    Listener() {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return;
        socklen_t len = sizeof sa;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
        port = ntohs(sa.sin_port);
    }
    ~Listener() {
        if (fd >= 0) ::close(fd);
    }
    // The next datagram, or nothing within a generous deadline.
    std::optional<wex::Bytes> receive() const {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) != 1) return std::nullopt;
        wex::Bytes buffer(2048);
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n < 0) return std::nullopt;
        buffer.resize(static_cast<std::size_t>(n));
        return buffer;
    }
};

const InterfaceAddress loopback{0x7F000001, 0xFF000000};

} // namespace

TEST(MachineWaker, MagicPacketReachesAListenerOnTheNetworksBroadcast) {
    Listener first, second;
    ASSERT_NE(first.port, 0);
    ASSERT_NE(second.port, 0);
    auto sender = makeUdpWakeSender({first.port, second.port});
    Interfaces interfaces;
    interfaces.list = std::vector<InterfaceAddress>{loopback, {0x7F000002, 0xFF000000}};
    MachineWaker waker(*sender, interfaces);

    Device d;
    d.mac = QStringLiteral(" 01:23:45:67:89:AB ");
    const std::vector<uint32_t> reached = waker.wake(d);
    EXPECT_EQ(reached, std::vector<uint32_t>{0x7FFFFFFF}) << "two addresses on one network: one broadcast";

    const wex::Bytes expected = wex::MagicPacket::bytes({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB});
    ASSERT_EQ(expected.size(), wex::MagicPacket::size);
    for (const Listener* l : {&first, &second}) {
        const std::optional<wex::Bytes> got = l->receive();
        ASSERT_TRUE(got) << "nothing arrived on port " << l->port;
        EXPECT_EQ(*got, expected);
    }
}

TEST(MachineWaker, NothingGoesOutWithoutAnAddressOrANetwork) {
    Listener l;
    auto sender = makeUdpWakeSender({l.port});
    Interfaces interfaces;
    interfaces.list = std::vector<InterfaceAddress>{loopback};
    MachineWaker waker(*sender, interfaces);
    Device d;
    EXPECT_TRUE(waker.wake(d).empty());
    d.mac = QStringLiteral("not a mac");
    EXPECT_TRUE(waker.wake(d).empty());
    d.mac = QStringLiteral("01:23:45:67:89:ab");
    interfaces.list.reset(); // the system could not list its interfaces
    EXPECT_TRUE(waker.wake(d).empty());
    interfaces.list = std::vector<InterfaceAddress>{};
    EXPECT_TRUE(waker.wake(d).empty());
}
