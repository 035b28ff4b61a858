#pragma once

#include <memory>
#include <string>
#include <vector>

#include "controller/client/audio/AudioOutput.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace dovrel::controller {

// A PulseAudio playback stream (PipeWire's pulse server too) on the default sink, with its own
// threaded main loop. The server holds about 50 ms; the rest of the 200 ms allowance waits here, in a
// ring the server's write requests drain. Never starts a sound server of its own.
class PulseAudioOutput final : public AudioOutput {
public:
    static constexpr std::chrono::milliseconds serverTarget{50};

    // Connects and opens the stream, waiting at most 3 s; nothing with the reason on failure.
    static std::unique_ptr<PulseAudioOutput> open(const AudioFormat& format, std::string& error);
    ~PulseAudioOutput() override;
    PulseAudioOutput(const PulseAudioOutput&) = delete;
    PulseAudioOutput& operator=(const PulseAudioOutput&) = delete;

    void write(std::span<const int16_t> samples) override;
    std::chrono::milliseconds buffered() const override;
    bool failed() const override;

private:
    explicit PulseAudioOutput(const AudioFormat& format);
    bool start(std::string& error);
    // Moves queued sound to the server, up to `bytes`; with the loop's lock held.
    void feed(std::size_t bytes);
    static void onContextState(pa_context* c, void* self);
    static void onStreamState(pa_stream* s, void* self);
    static void onWritable(pa_stream* s, size_t bytes, void* self);

    AudioFormat format_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;

    // Guarded by the loop's lock: a ring of interleaved samples.
    std::vector<int16_t> ring_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

// Outputs on the default PulseAudio sink.
AudioOutputFactory pulseAudioOutputs();

} // namespace dovrel::controller
