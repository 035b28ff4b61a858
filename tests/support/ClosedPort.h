#pragma once

#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dovrel::test {

// A loopback port nobody listens on: connecting to it is refused at once. Its socket stays bound (not
// listening) until the test program ends, so that no listener of a test running beside it takes the port
// meanwhile and answers in its place.
inline uint16_t closedPort() {
    struct Held {
        std::mutex lock;
        std::vector<int> fds;
        ~Held() {
            for (const int fd : fds)
                ::close(fd);
        }
    };
    static Held held;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("cannot bind a loopback port");
    }
    const std::lock_guard guard(held.lock);
    held.fds.push_back(fd);
    return ntohs(a.sin_port);
}

} // namespace dovrel::test
