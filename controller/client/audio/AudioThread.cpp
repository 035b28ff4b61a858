#include "controller/client/audio/AudioThread.h"

#include <algorithm>

#include <pthread.h>

namespace dovrel::controller {

AudioThread::AudioThread(AudioOutputFactory factory) : player_(std::move(factory)) {
    thread_ = std::thread([this] { run(); });
}

AudioThread::~AudioThread() {
    {
        const std::lock_guard g(lock_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void AudioThread::play(std::span<const int16_t> pcm, uint32_t sampleRate, uint32_t channels) {
    if (pcm.empty() || channels == 0) return;
    {
        const std::lock_guard g(lock_);
        std::size_t waiting = 0;
        for (const Job& j : jobs_)
            waiting += j.stop ? 0 : 1;
        if (waiting >= maxWaiting) {
            const auto oldest = std::find_if(jobs_.begin(), jobs_.end(), [](const Job& j) { return !j.stop; });
            jobs_.erase(oldest);
        }
        jobs_.push_back(Job{false, std::vector<int16_t>(pcm.begin(), pcm.end()), sampleRate, channels});
    }
    wake_.notify_one();
}

void AudioThread::stop() {
    {
        const std::lock_guard g(lock_);
        std::erase_if(jobs_, [](const Job& j) { return !j.stop; });
        jobs_.push_back(Job{true, {}, 0, 0});
        ++stopsQueued_;
    }
    wake_.notify_one();
}

bool AudioThread::running() const {
    {
        const std::lock_guard g(lock_);
        if (stopsQueued_ > 0) return false;
    }
    return player_.running();
}

bool AudioThread::waitIdle(std::chrono::milliseconds limit) const {
    std::unique_lock lk(lock_);
    return idle_.wait_for(lk, limit, [&] { return jobs_.empty() && !busy_; });
}

void AudioThread::run() {
    ::pthread_setname_np(::pthread_self(), "dovrel.audio");
    for (;;) {
        Job job;
        {
            std::unique_lock lk(lock_);
            busy_ = false;
            if (jobs_.empty()) idle_.notify_all();
            wake_.wait(lk, [&] { return quit_ || !jobs_.empty(); });
            if (quit_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            busy_ = true;
        }
        if (job.stop) {
            player_.stop();
            const std::lock_guard g(lock_);
            --stopsQueued_;
            continue;
        }
        player_.play(job.pcm, job.sampleRate, job.channels);
    }
}

} // namespace dovrel::controller
