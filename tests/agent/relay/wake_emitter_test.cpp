#include <chrono>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "agent/net/LinuxWakeEmitter.h"
#include "protocol/LANInterface.h"
#include "protocol/MagicPacket.h"
#include "tests/support/NetNamespace.h"

using namespace dovrel;
using namespace std::chrono_literals;

namespace {

const wex::MACAddress mac = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

uint32_t ip(const char* text) { return *wex::parseIPv4(text); }

struct Datagram {
    uint32_t from = 0;
    uint32_t to = 0; // the destination in the packet's header: directed or limited broadcast
    uint16_t port = 0;
    wex::Bytes payload;
};

// Wake-on-LAN listeners on ports 9 and 7 of every address of the namespace the calling thread is in.
class WakeListener {
public:
    WakeListener() {
        for (std::size_t i = 0; i < 2; ++i) {
            fds_[i] = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            const int on = 1;
            ::setsockopt(fds_[i], SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            ::setsockopt(fds_[i], IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_port = htons(wex::MagicPacket::ports[i]);
            if (::bind(fds_[i], reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
                throw std::runtime_error("cannot listen on a wake port");
        }
    }
    ~WakeListener() {
        for (int fd : fds_)
            ::close(fd);
    }
    WakeListener(const WakeListener&) = delete;
    WakeListener& operator=(const WakeListener&) = delete;

    // Collects datagrams until `expected` have come, then waits `settle` more for any extra.
    std::vector<Datagram> collect(std::size_t expected, std::chrono::milliseconds settle = 300ms) {
        std::vector<Datagram> got;
        auto deadline = std::chrono::steady_clock::now() + 3s;
        bool settling = false;
        while (std::chrono::steady_clock::now() < deadline) {
            if (!settling && got.size() >= expected) {
                settling = true;
                deadline = std::chrono::steady_clock::now() + settle;
            }
            pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
            if (::poll(p, 2, 20) <= 0) continue;
            for (std::size_t i = 0; i < 2; ++i)
                if (p[i].revents & POLLIN) readOne(i, got);
        }
        return got;
    }

private:
    void readOne(std::size_t i, std::vector<Datagram>& out) {
        uint8_t buf[512];
        alignas(cmsghdr) char control[256];
        sockaddr_in from{};
        iovec iov{buf, sizeof buf};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fds_[i], &msg, 0);
        if (n < 0) return;
        Datagram d;
        d.from = ntohl(from.sin_addr.s_addr);
        d.port = wex::MagicPacket::ports[i];
        d.payload.assign(buf, buf + n);
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            d.to = ntohl(info.ipi_addr.s_addr);
        }
        out.push_back(std::move(d));
    }

    int fds_[2] = {-1, -1};
};

// Three namespaces made for the test: the agent's ("a") with two networks, lan0 = 10.77.0.0/25 to
// namespace "b" and lan1 = 10.77.0.128/25 to namespace "c". The agent's default route leaves by lan1,
// so a limited broadcast that is not held to its interface shows up in "c".
class WakeLab {
public:
    WakeLab() : a_(prefix() + "a"), b_(prefix() + "b"), c_(prefix() + "c") {
        for (const test::NetNamespace* ns : {&a_, &b_, &c_})
            if (!ns->available()) {
                reason_ = ns->reason();
                return;
            }
        const std::pair<const test::NetNamespace*, std::string> steps[] = {
            {&a_, "link add lan0 type veth peer name eth0 netns " + b_.name()},
            {&a_, "link add lan1 type veth peer name eth0 netns " + c_.name()},
            {&a_, "addr add 10.77.0.1/25 brd + dev lan0"},
            {&a_, "addr add 10.77.0.129/25 brd + dev lan1"},
            {&b_, "addr add 10.77.0.2/25 brd + dev eth0"},
            {&c_, "addr add 10.77.0.130/25 brd + dev eth0"},
            {&a_, "link set lo up"},
            {&a_, "link set lan0 up"},
            {&a_, "link set lan1 up"},
            {&b_, "link set lo up"},
            {&b_, "link set eth0 up"},
            {&c_, "link set lo up"},
            {&c_, "link set eth0 up"},
            {&a_, "route add default via 10.77.0.130 dev lan1"},
            {&b_, "route add default via 10.77.0.1 dev eth0"},
            {&c_, "route add default via 10.77.0.129 dev eth0"},
        };
        for (const auto& [ns, args] : steps)
            if (!ns->ip(args, reason_)) return;
        ready_ = true;
    }

    bool ready() const { return ready_; }
    const std::string& reason() const { return reason_; }

    struct Outcome {
        std::vector<std::string> sentOn;
        std::vector<wex::LANInterface> agentInterfaces;
        std::vector<Datagram> atB;
        std::vector<Datagram> atC;
    };

    // Listens in "b" and "c", sends from "a" on the interfaces `choose` picks from a's usable ones.
    Outcome wake(const std::function<std::vector<wex::LANInterface>(const std::vector<wex::LANInterface>&)>& choose,
                 std::size_t expectB, std::size_t expectC) {
        return test::onFreshThread([&] {
            Outcome o;
            b_.enter();
            WakeListener atB;
            c_.enter();
            WakeListener atC;
            a_.enter();
            // A link is usable once the kernel has it running, which it tells a moment after both ends
            // are up (later on a busy machine).
            for (const auto until = std::chrono::steady_clock::now() + 10s;
                 (o.agentInterfaces = wex::lanInterfaces()).size() < 2 && std::chrono::steady_clock::now() < until;)
                std::this_thread::sleep_for(10ms);
            o.sentOn = agent::makeLinuxWakeEmitter()->send(mac, choose(o.agentInterfaces));
            o.atB = atB.collect(expectB);
            o.atC = atC.collect(expectC, expectC == 0 ? 0ms : 300ms);
            return o;
        });
    }

private:
    static std::string prefix() {
        static int serial = 0;
        return "dovrel-wake-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    }

    test::NetNamespace a_, b_, c_;
    bool ready_ = false;
    std::string reason_;
};

// What one interface must have put on its wire: the packet to its directed broadcast and to the
// limited broadcast, each on port 9 and on port 7.
void expectFourPackets(const std::vector<Datagram>& got, uint32_t source, uint32_t directed) {
    ASSERT_EQ(got.size(), 4u);
    std::vector<std::pair<uint16_t, uint32_t>> seen;
    for (const Datagram& d : got) {
        EXPECT_EQ(d.payload, wex::MagicPacket::bytes(mac));
        EXPECT_EQ(d.from, source) << wex::formatIPv4(d.from);
        seen.emplace_back(d.port, d.to);
    }
    const auto at = [&](uint16_t port) {
        std::vector<uint32_t> to;
        for (const auto& [p, t] : seen)
            if (p == port) to.push_back(t);
        return to;
    };
    EXPECT_EQ(at(9), (std::vector<uint32_t>{directed, 0xFFFFFFFF}));
    EXPECT_EQ(at(7), (std::vector<uint32_t>{directed, 0xFFFFFFFF}));
}

} // namespace

TEST(LinuxWakeEmitter, LeavesOnlyThroughTheChosenInterface) {
    WakeLab lab;
    if (!lab.ready()) GTEST_SKIP() << "cannot make network namespaces: " << lab.reason();
    const auto o = lab.wake(
        [](const std::vector<wex::LANInterface>& usable) {
            return wex::eligibleInterfaces(usable, ip("10.77.0.2"), false);
        },
        4, 0);
    ASSERT_EQ(o.agentInterfaces.size(), 2u);
    EXPECT_EQ(o.sentOn, (std::vector<std::string>{"lan0"}));
    expectFourPackets(o.atB, ip("10.77.0.1"), ip("10.77.0.127"));
    EXPECT_TRUE(o.atC.empty()) << o.atC.size() << " packets went out by the default route";
}

TEST(LinuxWakeEmitter, SendsOnEveryInterfaceItIsGiven) {
    WakeLab lab;
    if (!lab.ready()) GTEST_SKIP() << "cannot make network namespaces: " << lab.reason();
    const auto o = lab.wake(
        [](const std::vector<wex::LANInterface>& usable) { return wex::eligibleInterfaces(usable, 0, true); }, 4, 4);
    EXPECT_EQ(o.sentOn, (std::vector<std::string>{"lan0", "lan1"}));
    expectFourPackets(o.atB, ip("10.77.0.1"), ip("10.77.0.127"));
    expectFourPackets(o.atC, ip("10.77.0.129"), ip("10.77.0.255"));
}

TEST(LinuxWakeEmitter, SkipsInterfacesItCannotBindAndNamesOnlyTheOnesThatSent) {
    WakeLab lab;
    if (!lab.ready()) GTEST_SKIP() << "cannot make network namespaces: " << lab.reason();
    const auto o = lab.wake(
        [](const std::vector<wex::LANInterface>&) {
            return std::vector<wex::LANInterface>{
                {"lan0", ip("10.99.0.1"), ip("255.255.255.0")},    // not an address of lan0: cannot bind
                {"gone0", ip("10.77.0.1"), ip("255.255.255.128")}, // no such interface any more
                {"lan1", ip("10.77.0.129"), ip("255.255.255.128")},
            };
        },
        0, 4);
    EXPECT_EQ(o.sentOn, (std::vector<std::string>{"lan1"}));
    EXPECT_TRUE(o.atB.empty());
    expectFourPackets(o.atC, ip("10.77.0.129"), ip("10.77.0.255"));
}

TEST(LinuxWakeEmitter, NoInterfacesNoPackets) { EXPECT_TRUE(agent::makeLinuxWakeEmitter()->send(mac, {}).empty()); }
