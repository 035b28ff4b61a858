#include "controller/client/audio/PulseAudioOutput.h"

#include <algorithm>

#include <pulse/pulseaudio.h>

namespace dovrel::controller {

namespace {
constexpr auto connectTimeout = std::chrono::seconds(3);

std::size_t samplesFor(const AudioFormat& f, std::chrono::milliseconds d) {
    return static_cast<std::size_t>(f.sampleRate) * f.channels * static_cast<std::size_t>(d.count()) / 1000;
}

// Holds the loop's lock for a scope.
struct LoopLock {
    explicit LoopLock(pa_threaded_mainloop* l) : loop(l) { pa_threaded_mainloop_lock(loop); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;
    pa_threaded_mainloop* loop;
};
} // namespace

PulseAudioOutput::PulseAudioOutput(const AudioFormat& format) : format_(format) {
    // What the server does not hold yet waits here, within the whole allowance.
    ring_.resize(std::max<std::size_t>(samplesFor(format_, maxBuffered - serverTarget), format_.channels));
}

std::unique_ptr<PulseAudioOutput> PulseAudioOutput::open(const AudioFormat& format, std::string& error) {
    pa_sample_spec sampleFormat{PA_SAMPLE_S16NE, format.sampleRate, format.channels};
    if (!pa_sample_spec_valid(&sampleFormat)) {
        error = "the sound system cannot play " + std::to_string(format.sampleRate) + " Hz with " +
                std::to_string(format.channels) + " channels";
        return nullptr;
    }
    std::unique_ptr<PulseAudioOutput> out(new PulseAudioOutput(format));
    if (!out->start(error)) return nullptr;
    return out;
}

bool PulseAudioOutput::start(std::string& error) {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) {
        error = "out of memory";
        return false;
    }
    pa_threaded_mainloop_set_name(loop_, "dovrel.audio");
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "DovrelController");
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "game"); // interactive: low latency wanted
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "DovrelController", props);
    pa_proplist_free(props);
    if (!context_) {
        error = "out of memory";
        return false;
    }
    pa_context_set_state_callback(context_, &PulseAudioOutput::onContextState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        error = std::string("no sound server: ") + pa_strerror(pa_context_errno(context_));
        return false;
    }
    if (pa_threaded_mainloop_start(loop_) < 0) {
        error = "cannot start the sound thread";
        return false;
    }

    const auto deadline = std::chrono::steady_clock::now() + connectTimeout;
    LoopLock lock(loop_);
    // The loop's wait has no time-out: a timer event wakes it when the deadline passes.
    bool late = false;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    struct Wake {
        pa_threaded_mainloop* loop;
        bool* late;
    } wake{loop_, &late};
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, std::chrono::duration_cast<std::chrono::microseconds>(connectTimeout).count());
    pa_time_event* timer = api->time_new(
        api, &when,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* w) {
            auto* wk = static_cast<Wake*>(w);
            *wk->late = true;
            pa_threaded_mainloop_signal(wk->loop, 0);
        },
        &wake);

    auto waitFor = [&](auto ready, auto broken) {
        for (;;) {
            if (ready()) return true;
            if (broken() || late || std::chrono::steady_clock::now() > deadline) return false;
            pa_threaded_mainloop_wait(loop_);
        }
    };
    const bool connected = waitFor([&] { return pa_context_get_state(context_) == PA_CONTEXT_READY; },
                                   [&] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)); });
    if (!connected) {
        error = late ? "the sound server did not answer within 3 s"
                     : std::string("no sound server: ") + pa_strerror(pa_context_errno(context_));
        if (timer) api->time_free(timer);
        return false;
    }

    pa_sample_spec sampleFormat{PA_SAMPLE_S16NE, format_.sampleRate, format_.channels};
    pa_channel_map map;
    pa_channel_map_init_extend(&map, format_.channels, PA_CHANNEL_MAP_DEFAULT);
    stream_ = pa_stream_new(context_, "Remote sound", &sampleFormat, &map);
    if (!stream_) {
        error = std::string("cannot make a stream: ") + pa_strerror(pa_context_errno(context_));
        if (timer) api->time_free(timer);
        return false;
    }
    pa_stream_set_state_callback(stream_, &PulseAudioOutput::onStreamState, this);
    pa_stream_set_write_callback(stream_, &PulseAudioOutput::onWritable, this);
    const auto bytes = [&](std::chrono::milliseconds d) {
        return static_cast<uint32_t>(samplesFor(format_, d) * sizeof(int16_t));
    };
    pa_buffer_attr attr{};
    attr.maxlength = bytes(serverTarget * 2);
    attr.tlength = bytes(serverTarget);
    attr.prebuf = bytes(std::chrono::milliseconds(20));
    attr.minreq = bytes(std::chrono::milliseconds(10));
    attr.fragsize = static_cast<uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                                      PA_STREAM_INTERPOLATE_TIMING);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        error = std::string("cannot play: ") + pa_strerror(pa_context_errno(context_));
        if (timer) api->time_free(timer);
        return false;
    }
    const bool playing = waitFor([&] { return pa_stream_get_state(stream_) == PA_STREAM_READY; },
                                 [&] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)); });
    if (timer) api->time_free(timer);
    if (!playing) {
        error = late ? "the sound server did not open the stream within 3 s"
                     : std::string("cannot play: ") + pa_strerror(pa_context_errno(context_));
        return false;
    }
    return true;
}

PulseAudioOutput::~PulseAudioOutput() {
    if (loop_) pa_threaded_mainloop_stop(loop_);
    if (stream_) {
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_) pa_threaded_mainloop_free(loop_);
}

void PulseAudioOutput::onContextState(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseAudioOutput*>(self)->loop_, 0);
}

void PulseAudioOutput::onStreamState(pa_stream*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseAudioOutput*>(self)->loop_, 0);
}

void PulseAudioOutput::onWritable(pa_stream*, size_t bytes, void* self) {
    static_cast<PulseAudioOutput*>(self)->feed(bytes);
}

void PulseAudioOutput::write(std::span<const int16_t> samples) {
    const std::size_t channels = format_.channels;
    samples = samples.first(samples.size() / channels * channels);
    if (samples.empty()) return;
    LoopLock lock(loop_);
    const std::size_t cap = ring_.size() / channels * channels;
    // Only the newest sound fits: older samples, queued or arriving, make room.
    if (samples.size() > cap) samples = samples.last(cap);
    if (count_ + samples.size() > cap) {
        const std::size_t drop = count_ + samples.size() - cap;
        head_ = (head_ + drop) % ring_.size();
        count_ -= drop;
    }
    for (int16_t s : samples) {
        ring_[(head_ + count_) % ring_.size()] = s;
        ++count_;
    }
    if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY) {
        const std::size_t writable = pa_stream_writable_size(stream_);
        if (writable != static_cast<std::size_t>(-1)) feed(writable);
    }
}

void PulseAudioOutput::feed(std::size_t bytes) {
    const std::size_t channels = format_.channels;
    std::size_t want = std::min(bytes / sizeof(int16_t) / channels * channels, count_);
    while (want > 0) {
        // The ring may wrap: write its two stretches one after the other.
        const std::size_t run = std::min(want, ring_.size() - head_);
        pa_stream_write(stream_, ring_.data() + head_, run * sizeof(int16_t), nullptr, 0, PA_SEEK_RELATIVE);
        head_ = (head_ + run) % ring_.size();
        count_ -= run;
        want -= run;
    }
}

std::chrono::milliseconds PulseAudioOutput::buffered() const {
    LoopLock lock(loop_);
    const auto frames = count_ / format_.channels;
    auto held = std::chrono::milliseconds(frames * 1000 / format_.sampleRate);
    pa_usec_t latency = 0;
    int negative = 0;
    if (stream_ && pa_stream_get_latency(stream_, &latency, &negative) == 0 && !negative)
        held += std::chrono::milliseconds(latency / 1000);
    return held;
}

bool PulseAudioOutput::failed() const {
    LoopLock lock(loop_);
    return !stream_ || !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)) ||
           !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
}

AudioOutputFactory pulseAudioOutputs() {
    return [](const AudioFormat& format, std::string& error) -> std::unique_ptr<AudioOutput> {
        return PulseAudioOutput::open(format, error);
    };
}

} // namespace dovrel::controller
