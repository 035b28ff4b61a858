#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace dovrel::test {

namespace ports {

// The lowest port the kernel hands out to a socket bound to port 0.
inline int ephemeralLow() {
    std::ifstream in("/proc/sys/net/ipv4/ip_local_port_range");
    int low = 32768;
    in >> low;
    return low;
}

// Whether a loopback socket of `type` (SOCK_DGRAM, SOCK_STREAM) can be bound to `port` now.
inline bool bindable(int type, uint16_t port) {
    const int s = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    const bool ok = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

// Claims `port` among the test programs on this machine until this process ends: an abstract socket
// named after it, which the kernel refuses to a second program and lets go of with the process (no
// file is left behind, whatever way the test ends).
inline bool claim(uint16_t port) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const std::string name = "dovrel-test-port-" + std::to_string(port);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path + 1, name.data(), name.size()); // sun_path[0] stays 0: the abstract namespace
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0) {
        ::close(fd);
        return false;
    }
    return true; // the descriptor stays open, and the claim with it, until the process ends
}

// A loopback port for a listener that a program starts later, which no other test takes meanwhile. A
// port picked by binding to 0 and closed again can be handed to the next program that binds to 0, in
// a test running beside this one, before ours binds it. This one lies below the kernel's range for
// port 0, so only a program asking for that very number could take it, and test programs pick such
// numbers here only, each claiming its own.
inline uint16_t reserved(int type) {
    static std::mutex lock;
    static std::mt19937 random(static_cast<unsigned>(::getpid()) * 2654435761u ^
                               static_cast<unsigned>(std::time(nullptr)));
    const std::lock_guard held(lock);
    int low = 20000;
    int high = std::min(ephemeralLow(), 32768);
    if (high - low < 1000) { // a machine whose port-0 range reaches this low: no number is out of its way
        low = 10000;
        high = 65535;
    }
    for (int tries = 0; tries < 2000; ++tries) {
        const auto port = static_cast<uint16_t>(low + static_cast<int>(random() % static_cast<unsigned>(high - low)));
        if (claim(port) && bindable(type, port)) return port;
    }
    throw std::runtime_error("no loopback port left to reserve");
}

} // namespace ports

// A loopback UDP port for a listener started later, kept from the tests running beside this one.
inline uint16_t freeUdpPort() { return ports::reserved(SOCK_DGRAM); }
// The same for a TCP listener.
inline uint16_t freeTcpPort() { return ports::reserved(SOCK_STREAM); }

} // namespace dovrel::test
