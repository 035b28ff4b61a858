#pragma once

#include <chrono>
#include <string>
#include <utility>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace dovrel::test {

// A session bus at `path` that takes connections and never answers: a program that connects waits there.
class SilentBus {
public:
    explicit SilentBus(std::string path)
        : path_(std::move(path)), listener_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un a{AF_UNIX, {}};
        path_.copy(a.sun_path, sizeof a.sun_path - 1);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 8) != 0) close();
    }
    ~SilentBus() { close(); }
    bool listening() const { return listener_ >= 0; }
    std::string address() const { return "unix:path=" + path_; }
    // Whether a program connected within `timeout`; it now waits for an answer.
    bool held(std::chrono::milliseconds timeout) {
        pollfd p{listener_, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(timeout.count())) == 1 &&
               (held_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;
    }
    // Gone: the one held hears the end, and any later connect fails at once.
    void close() {
        for (int* fd : {&listener_, &held_})
            if (*fd >= 0) ::close(std::exchange(*fd, -1));
        ::unlink(path_.c_str());
    }

private:
    std::string path_;
    int listener_ = -1, held_ = -1;
};

} // namespace dovrel::test
