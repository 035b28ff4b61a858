#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "../../support/TempHome.h"
#include "TestDecoder.h"
#include "agent/media/LibavHandles.h"
#include "agent/media/VideoEncoder.h"
#include "protocol/Bytes.h"

namespace dovrel::test {

// Sends what the code under test logs (descriptor 1) to a file for the object's lifetime. When the
// test failed, the file is replayed, with the test framework's own messages written meanwhile.
class LogCapture {
public:
    LogCapture() {
        std::fflush(stdout);
        const int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, 1);
        ::close(fd);
    }
    ~LogCapture() {
        std::fflush(stdout);
        guard_.reset();
        if (!::testing::Test::HasFailure()) return;
        const std::string all = text();
        std::fwrite(all.data(), 1, all.size(), stdout);
        std::fflush(stdout);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::string text() const {
        std::ifstream in(file_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // The log's lines without their time stamps.
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::string all = text(), line;
        std::size_t at = 0;
        while (at < all.size()) {
            const std::size_t end = std::min(all.find('\n', at), all.size());
            line = all.substr(at, end - at);
            out.push_back(line.size() > 19 ? line.substr(19) : line);
            at = end + 1;
        }
        return out;
    }

private:
    TempDir dir_;
    std::string file_ = dir_.file("log");
    std::unique_ptr<StdStreamsGuard> guard_ = std::make_unique<StdStreamsGuard>();
};

inline std::string currentThreadName() {
    char name[32] = {};
    ::pthread_getname_np(::pthread_self(), name, sizeof name);
    return name;
}

// Polls `done` every millisecond for up to `limit`.
inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Collects what an encoder puts out, from its output thread.
class PictureSink {
public:
    agent::VideoEncoder::OutputCallback callback() {
        return [this](agent::EncodedPicture&& p) {
            {
                const std::lock_guard g(lock_);
                pictures_.push_back(std::move(p));
                threads_.push_back(currentThreadName());
            }
            cv_.notify_all();
        };
    }
    bool waitFor(std::size_t n, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lk(lock_);
        return cv_.wait_for(lk, limit, [&] { return pictures_.size() >= n; });
    }
    std::vector<agent::EncodedPicture> pictures() {
        const std::lock_guard g(lock_);
        return pictures_;
    }
    std::vector<std::string> threads() {
        const std::lock_guard g(lock_);
        return threads_;
    }

private:
    std::mutex lock_;
    std::condition_variable cv_;
    std::vector<agent::EncodedPicture> pictures_;
    std::vector<std::string> threads_;
};

} // namespace dovrel::test
