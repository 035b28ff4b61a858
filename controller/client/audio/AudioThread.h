#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "controller/client/audio/AudioPlayer.h"

namespace dovrel::controller {

// The session's sound on a thread of its own ("dovrel.audio"). Reaching the sound server can take
// seconds (it may be starting, busy or gone), and the client thread carries pings, video and the
// handshake: it only hands frames over here and never waits for the sound system. Frames are played in
// the order given; when the sound system falls behind, the oldest waiting frames are dropped, since
// sound that late would only be heard late. `play` and `stop` from any thread.
class AudioThread {
public:
    // Frames waiting beyond the one being played (the agent sends one every 10 ms or so).
    static constexpr std::size_t maxWaiting = 32;

    explicit AudioThread(AudioOutputFactory factory);
    ~AudioThread();
    AudioThread(const AudioThread&) = delete;
    AudioThread& operator=(const AudioThread&) = delete;

    // Copies the samples and returns at once.
    void play(std::span<const int16_t> pcm, uint32_t sampleRate, uint32_t channels);
    // Frames not yet played are dropped and the output is closed; the next frame opens a new one.
    void stop();

    // An output is open and no stop is on its way to it.
    bool running() const;
    const AudioPlayer& player() const { return player_; }
    // Waits until every frame handed over has been played or dropped; false on time-out.
    bool waitIdle(std::chrono::milliseconds limit) const;

private:
    struct Job {
        bool stop = false;
        std::vector<int16_t> pcm;
        uint32_t sampleRate = 0;
        uint32_t channels = 0;
    };
    void run();

    AudioPlayer player_;
    mutable std::mutex lock_;
    mutable std::condition_variable wake_;
    mutable std::condition_variable idle_;
    std::deque<Job> jobs_;
    std::size_t stopsQueued_ = 0;
    bool busy_ = false;
    bool quit_ = false;
    std::thread thread_;
};

} // namespace dovrel::controller
