#include "LinkShaper.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <stdexcept>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dovrel::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t largestDatagram = 65536;

int loopbackSocket() {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) throw std::runtime_error("no UDP socket for the shaper");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        throw std::runtime_error("the shaper's UDP socket would not bind");
    }
    // The kernel must not drop before the shaper does: what it drops is the shaper's to decide.
    const int big = 8 << 20;
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    return s;
}

} // namespace

LinkShaper::LinkShaper(uint16_t to, int64_t bitsPerSecond, std::size_t burstBytes,
                       std::chrono::milliseconds queueLatency)
    : to_(to), burst_(burstBytes), latency_(queueLatency), rate_(bitsPerSecond) {
    in_ = loopbackSocket();
    out_ = loopbackSocket();
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(in_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    tokens_ = static_cast<double>(burst_);
    refilledAt_ = Clock::now();
    thread_ = std::thread([this] { run(); });
}

LinkShaper::~LinkShaper() {
    stop_ = true;
    thread_.join();
    ::close(in_);
    ::close(out_);
}

void LinkShaper::setRate(int64_t bitsPerSecond) { rate_ = bitsPerSecond; }

LinkShaper::Totals LinkShaper::totals() const {
    const std::lock_guard guard(totalsLock_);
    return totals_;
}

void LinkShaper::refill(Clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - refilledAt_).count();
    refilledAt_ = now;
    tokens_ = std::min(static_cast<double>(burst_), tokens_ + seconds * static_cast<double>(rate_.load()) / 8);
}

void LinkShaper::run() {
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    dest.sin_port = htons(to_);
    const auto forward = [&](const std::vector<uint8_t>& datagram) {
        ::sendto(out_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&dest), sizeof dest);
        const std::lock_guard guard(totalsLock_);
        totals_.passedBytes += datagram.size();
    };
    std::vector<uint8_t> buffer(largestDatagram);
    while (!stop_) {
        // Until the head of the queue has tokens enough, or a little while to look at stop_ again.
        auto wait = std::chrono::nanoseconds(std::chrono::milliseconds(20));
        const int64_t rate = rate_.load();
        if (!queue_.empty() && rate > 0) {
            const double missing = static_cast<double>(queue_.front().size()) - tokens_;
            if (missing > 0)
                wait = std::min(wait, std::chrono::nanoseconds(
                                          static_cast<int64_t>(missing * 8e9 / static_cast<double>(rate)) + 1));
            else
                wait = std::chrono::nanoseconds(0);
        } else if (!queue_.empty()) {
            wait = std::chrono::nanoseconds(0);
        }
        const timespec ts{static_cast<time_t>(wait.count() / 1'000'000'000),
                          static_cast<long>(wait.count() % 1'000'000'000)};
        pollfd p{in_, POLLIN, 0};
        ::ppoll(&p, 1, &ts, nullptr);
        const Clock::time_point now = Clock::now();
        refill(now);
        for (;;) {
            const ssize_t n = ::recv(in_, buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            std::vector<uint8_t> datagram(buffer.begin(), buffer.begin() + n);
            {
                const std::lock_guard guard(totalsLock_);
                totals_.offeredBytes += datagram.size();
                ++totals_.offeredDatagrams;
            }
            if (rate_.load() <= 0 && queue_.empty()) {
                forward(datagram);
                continue;
            }
            // What the queue holds: what the link sends in its latency, on top of the bucket's burst.
            const auto limit = static_cast<std::size_t>(static_cast<double>(rate_.load()) / 8 *
                                                        std::chrono::duration<double>(latency_).count()) +
                               burst_;
            if (rate_.load() > 0 && queuedBytes_ + datagram.size() > limit) {
                const std::lock_guard guard(totalsLock_);
                totals_.droppedBytes += datagram.size();
                ++totals_.droppedDatagrams;
                continue;
            }
            queuedBytes_ += datagram.size();
            queue_.push_back(std::move(datagram));
        }
        while (!queue_.empty()) {
            const bool shaped = rate_.load() > 0;
            if (shaped && tokens_ < static_cast<double>(queue_.front().size())) break;
            if (shaped) tokens_ -= static_cast<double>(queue_.front().size());
            forward(queue_.front());
            queuedBytes_ -= queue_.front().size();
            queue_.pop_front();
        }
    }
}

} // namespace dovrel::test
