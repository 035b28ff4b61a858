#pragma once

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "XTestClient.h"

namespace dovrel::test {

// Blocks of any colour all over a 1280 x 720 screen, `blocks` of them anew thirty times a second: with
// the 400 of the default, a picture no encoder makes small.
class BusyPainter {
public:
    explicit BusyPainter(const std::string& display, int blocks = 400) : client_(display) {
        thread_ = std::thread([this, blocks] {
            std::mt19937 rng(5);
            auto next = std::chrono::steady_clock::now();
            while (!stop_ && client_.ok()) {
                for (int i = 0; i < blocks; ++i)
                    client_.fill(static_cast<int>(rng() % 1240), static_cast<int>(rng() % 680), 40, 40,
                                 rng() & 0xFFFFFF, false);
                client_.sync();
                next += std::chrono::milliseconds(33);
                std::this_thread::sleep_until(next);
            }
        });
    }
    ~BusyPainter() {
        stop_ = true;
        thread_.join();
    }
    BusyPainter(const BusyPainter&) = delete;
    BusyPainter& operator=(const BusyPainter&) = delete;

private:
    XTestClient client_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace dovrel::test
