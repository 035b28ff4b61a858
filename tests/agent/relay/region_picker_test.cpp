#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "../../support/ClosedPort.h"
#include "../../support/TestResolver.h"
#include "TlsPeer.h"
#include "agent/net/RegionPicker.h"

using dovrel::HostLookups;
using dovrel::agent::RegionPicker;
using dovrel::agent::RelayEndpoint;
using dovrel::test::closedPort;
using dovrel::test::TestResolver;
using namespace std::chrono_literals;

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Fd& operator=(Fd&& o) noexcept {
        std::swap(fd_, o.fd_);
        return *this;
    }
    int get() const { return fd_; }

private:
    int fd_;
};

sockaddr_in loopback(uint16_t port, in_addr_t address = INADDR_LOOPBACK) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(port);
    return sa;
}

uint16_t portOf(int fd) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    return ntohs(sa.sin_port);
}

Fd listening(int backlog, uint16_t port = 0, in_addr_t address = INADDR_LOOPBACK) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in sa = loopback(port, address);
    EXPECT_EQ(::bind(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa), 0);
    EXPECT_EQ(::listen(fd.get(), backlog), 0);
    return fd;
}

// A listener whose queue of accepted connections is full (a backlog of 0 holds one, taken by a
// connection of our own), so that the kernel drops a probe's SYN and the probe's TCP retries it after
// a second. Once `acceptAfter` passes it accepts everything, so a retried SYN then connects: a relay
// that answers late. Without `acceptAfter` it never answers.
class SlowListener {
public:
    explicit SlowListener(std::optional<std::chrono::milliseconds> acceptAfter) : server_(listening(0)) {
        filler_ = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_in sa = loopback(port());
        EXPECT_EQ(::connect(filler_.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa), 0);
        acceptor_ = std::thread([this, acceptAfter] {
            const auto start = std::chrono::steady_clock::now();
            std::vector<Fd> accepted;
            while (!stop_) {
                pollfd p{server_.get(), POLLIN, 0};
                ::poll(&p, 1, 10);
                if (!acceptAfter || std::chrono::steady_clock::now() - start < *acceptAfter) continue;
                if (p.revents & POLLIN) accepted.emplace_back(::accept4(server_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            }
        });
    }
    ~SlowListener() {
        stop_ = true;
        acceptor_.join();
    }
    uint16_t port() const { return portOf(server_.get()); }

private:
    Fd server_;
    Fd filler_;
    std::atomic<bool> stop_ = false;
    std::thread acceptor_;
};

struct Timed {
    std::optional<RelayEndpoint> result;
    double seconds = 0;
};

Timed timedNearest(const std::vector<RelayEndpoint>& endpoints, double timeout) {
    dovrel::test::qtApp();
    const auto start = std::chrono::steady_clock::now();
    Timed t;
    t.result = RegionPicker(dovrel::makeSystemResolver()).nearest(endpoints, timeout);
    t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return t;
}

RelayEndpoint local(uint16_t port) { return {"127.0.0.1", port}; }

} // namespace

TEST(RegionPicker, NothingToProbeGivesNothingAndOneCandidateIsTakenUnprobed) {
    EXPECT_FALSE(timedNearest({}, 2.5).result);
    const Timed hostless = timedNearest({{"", 443}, {"", 8443}}, 2.5);
    EXPECT_FALSE(hostless.result);
    EXPECT_LT(hostless.seconds, 0.1);

    // A single candidate is not probed at all, not even when nothing listens there.
    const RelayEndpoint only = local(closedPort());
    const Timed single = timedNearest({{"", 443}, only}, 2.5);
    EXPECT_EQ(single.result, only);
    EXPECT_LT(single.seconds, 0.1);
}

TEST(RegionPicker, FirstToAcceptWinsOverRefusingPorts) {
    const Fd open = listening(16);
    const RelayEndpoint winner = local(portOf(open.get()));
    // Refusals are no reason to wait: the answer comes long before the time-out.
    const Timed t = timedNearest({local(closedPort()), winner, local(closedPort())}, 30);
    EXPECT_EQ(t.result, winner);
    EXPECT_LT(t.seconds, 15.0);

    const Timed byName = timedNearest({{"localhost", closedPort()}, {"localhost", portOf(open.get())}}, 30);
    EXPECT_EQ(byName.result, (RelayEndpoint{"localhost", portOf(open.get())}));
}

TEST(RegionPicker, EveryPortRefusingGivesNothingWithoutWaitingForTheTimeout) {
    const Timed t = timedNearest({local(closedPort()), local(closedPort())}, 30);
    EXPECT_FALSE(t.result);
    EXPECT_LT(t.seconds, 15.0);
}

TEST(RegionPicker, ARelayThatAnswersLateStillWinsWithinTheTimeout) {
    const SlowListener late(300ms);
    const Timed t = timedNearest({local(late.port()), local(closedPort())}, 2.5);
    EXPECT_EQ(t.result, local(late.port()));
    EXPECT_GT(t.seconds, 0.8); // the dropped SYN was retried after a second
    EXPECT_LT(t.seconds, 2.5);
}

TEST(RegionPicker, TheReadyOneBeatsTheLateOneWhichIsThenCancelled) {
    const SlowListener late(300ms);
    const Fd open = listening(16);
    const Timed t = timedNearest({local(late.port()), local(portOf(open.get()))}, 2.5);
    EXPECT_EQ(t.result, local(portOf(open.get())));
    EXPECT_LT(t.seconds, 0.8); // the late probe did not run on to its answer
}

TEST(RegionPicker, WhenNothingAnswersEveryProbeEndsWithinTheTimeout) {
    const SlowListener never1(std::nullopt);
    const SlowListener never2(std::nullopt);
    const Timed t = timedNearest({local(never1.port()), local(never2.port())}, 2.5);
    EXPECT_FALSE(t.result);
    // The connection attempt gives up after the whole seconds (2); the 2.5 s bound is never passed by
    // more than a busy machine's lateness in waking the caller.
    EXPECT_GT(t.seconds, 1.9);
    EXPECT_LT(t.seconds, 3.5);

    const Timed brief = timedNearest({local(never1.port()), local(never2.port())}, 0.6);
    EXPECT_FALSE(brief.result);
    EXPECT_GT(brief.seconds, 0.55);
    EXPECT_LT(brief.seconds, 1.0);
}

TEST(RegionPicker, RunsFromABackgroundThreadAndProbesOneEndpoint) {
    dovrel::test::qtApp();
    const Fd open = listening(16);
    RegionPicker picker(dovrel::makeSystemResolver());
    std::optional<RelayEndpoint> fromWorker;
    std::thread worker([&] { fromWorker = picker.nearest({local(closedPort()), local(portOf(open.get()))}, 2.5); });
    worker.join();
    EXPECT_EQ(fromWorker, local(portOf(open.get())));

    EXPECT_EQ(picker.probe(local(portOf(open.get())), 2.5), local(portOf(open.get())));
    EXPECT_FALSE(picker.probe(local(closedPort()), 2.5));
    EXPECT_FALSE(picker.probe({"", portOf(open.get())}, 2.5));
}

// A resolver that never answers: a region given by an address still wins at once, and race after race
// of names alone ends within its time-out, holding a few lookup threads at most, which finish by
// themselves once the resolver answers after the picker has gone.
TEST(RegionPicker, LookupsThatNeverAnswerAreBoundedAndOutliveThePickerSafely) {
    dovrel::test::qtApp();
    const Fd open = listening(16);
    const uint16_t port = portOf(open.get());
    auto resolver = std::make_shared<TestResolver>(
        std::map<std::string, std::vector<std::string>>{{"stuck.invalid", {"127.0.0.1"}}}, true);
    {
        RegionPicker picker(resolver);
        EXPECT_EQ(picker.nearest({{"stuck.invalid", port}, local(port)}, 30), local(port));
        for (int round = 0; round < 3; ++round)
            EXPECT_FALSE(picker.nearest(std::vector<RelayEndpoint>(5, {"stuck.invalid", port}), 0.3));
    }
    EXPECT_LE(resolver->mostAtOnce, static_cast<int>(HostLookups::maxThreads));
    resolver->release();
    for (const auto until = std::chrono::steady_clock::now() + 5s;
         resolver.use_count() > 1 && std::chrono::steady_clock::now() < until;)
        std::this_thread::sleep_for(2ms);
    EXPECT_EQ(resolver.use_count(), 1) << "a lookup thread never ended";
}

// A name whose first address swallows packets (its SYNs dropped, as an IPv6 route that leads nowhere
// does) is still reached on its second within the time-out.
TEST(RegionPicker, EachAddressOfANameGetsItsShareOfTheTime) {
    dovrel::test::qtApp();
    const SlowListener swallows(std::nullopt); // on 127.0.0.1
    const Fd second = listening(16, swallows.port(), INADDR_LOOPBACK + 1);
    RegionPicker picker(std::make_shared<TestResolver>(
        std::map<std::string, std::vector<std::string>>{{"relay.invalid", {"127.0.0.1", "127.0.0.2"}}}));
    const RelayEndpoint twoAddresses{"relay.invalid", swallows.port()};
    EXPECT_EQ(picker.probe(twoAddresses, 2.5), twoAddresses);
}
