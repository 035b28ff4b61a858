#pragma once

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <exception>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "ProcessUtil.h"

namespace dovrel::test {

// A network namespace made for one test ("ip netns add"), deleted with everything in it (its veth
// ends included) when the object goes. Traffic between such namespaces never reaches a real network.
// `available()` is false, with `reason()`, when the machine cannot make one (no root, no iproute2).
class NetNamespace {
public:
    explicit NetNamespace(std::string name) : name_(std::move(name)) {
        if (!haveCommand("ip")) {
            reason_ = "iproute2 (ip) is not installed";
            return;
        }
        const CommandResult made = runCommand("ip netns add " + name_ + " 2>&1");
        if (made.status != 0) {
            reason_ = "ip netns add failed: " + made.output;
            return;
        }
        made_ = true;
        fd_ = ::open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) reason_ = "cannot open /run/netns/" + name_;
    }
    ~NetNamespace() {
        if (fd_ >= 0) ::close(fd_);
        if (made_) runCommand("ip netns del " + name_ + " 2>&1");
    }
    NetNamespace(const NetNamespace&) = delete;
    NetNamespace& operator=(const NetNamespace&) = delete;

    bool available() const { return made_ && fd_ >= 0; }
    const std::string& reason() const { return reason_; }
    const std::string& name() const { return name_; }

    // Runs "ip -n <name> <args>"; true on success, else the output lands in `error`.
    bool ip(const std::string& args, std::string& error) const {
        const CommandResult r = runCommand("ip -n " + name_ + " " + args + " 2>&1");
        if (r.status != 0) error = "ip -n " + name_ + " " + args + ": " + r.output;
        return r.status == 0;
    }

    // Moves the calling thread into this namespace; sockets it opens afterwards belong to it. Only this
    // thread changes: use it on a thread of the test's own.
    void enter() const {
        if (::setns(fd_, CLONE_NEWNET) != 0) throw std::runtime_error("setns into " + name_ + " failed");
    }

private:
    std::string name_;
    std::string reason_;
    bool made_ = false;
    int fd_ = -1;
};

// Runs `fn` on a fresh thread and returns its result; the thread may enter namespaces freely.
template <typename Fn> auto onFreshThread(Fn fn) -> decltype(fn()) {
    std::exception_ptr failure;
    decltype(fn()) result{};
    std::thread t([&] {
        try {
            result = fn();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    t.join();
    if (failure) std::rethrow_exception(failure);
    return result;
}

} // namespace dovrel::test
