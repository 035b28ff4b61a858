#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace dovrel::test {

// A slow link inside the process, as a router's rate limiter makes one of a busy uplink (tc's token
// bucket filter): datagrams sent to port() go on to 127.0.0.1:`to` at most at the rate, the bucket
// lets a small burst through at once, and the queue behind it holds only what the link sends in
// `queueLatency`; whatever arrives while the queue is full is dropped. Unshaped (rate 0), every
// datagram goes on at once. Needs no privileges. Any thread may change the rate and read the totals.
class LinkShaper {
public:
    struct Totals {
        uint64_t offeredBytes = 0; // arrived from the sender
        uint64_t passedBytes = 0;  // went on to the receiver
        uint64_t droppedBytes = 0;
        uint64_t offeredDatagrams = 0;
        uint64_t droppedDatagrams = 0;
    };

    explicit LinkShaper(uint16_t to, int64_t bitsPerSecond = 0, std::size_t burstBytes = 4000,
                        std::chrono::milliseconds queueLatency = std::chrono::milliseconds(50));
    ~LinkShaper();
    LinkShaper(const LinkShaper&) = delete;
    LinkShaper& operator=(const LinkShaper&) = delete;

    // Where the sender sends (loopback).
    uint16_t port() const { return port_; }
    // 0: unshaped; what waits in the queue then goes on at once.
    void setRate(int64_t bitsPerSecond);
    Totals totals() const;

private:
    void run();
    void refill(std::chrono::steady_clock::time_point now);

    int in_ = -1;
    int out_ = -1;
    uint16_t port_ = 0;
    uint16_t to_;
    const std::size_t burst_;
    const std::chrono::milliseconds latency_;
    std::atomic<int64_t> rate_;
    std::atomic<bool> stop_{false};

    // The shaper's thread only.
    double tokens_ = 0;
    std::chrono::steady_clock::time_point refilledAt_{};
    std::deque<std::vector<uint8_t>> queue_;
    std::size_t queuedBytes_ = 0;

    mutable std::mutex totalsLock_;
    Totals totals_;
    std::thread thread_;
};

} // namespace dovrel::test
