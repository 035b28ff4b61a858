#include "agent/media/PulseAudioCapturer.h"

#include <chrono>
#include <future>
#include <mutex>
#include <vector>

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/mainloop.h>
#include <pulse/stream.h>

#include "agent/common/AgentError.h"
#include "agent/common/AgentLog.h"
#include "agent/common/ThreadName.h"
#include "runtime/SignalStack.h"

namespace dovrel::agent {

namespace {

// A sound server that takes longer than this to open a stream is treated as absent.
constexpr std::chrono::seconds startTimeout{5};

struct MainloopFree {
    void operator()(pa_mainloop* m) const { pa_mainloop_free(m); }
};
struct ContextFree {
    void operator()(pa_context* c) const {
        pa_context_disconnect(c);
        pa_context_unref(c);
    }
};
struct StreamFree {
    void operator()(pa_stream* s) const {
        pa_stream_disconnect(s);
        pa_stream_unref(s);
    }
};

} // namespace

// Everything the audio thread uses lives here, shared with the capturer, so the thread can finish
// safely whatever happens to the capturer object.
struct PulseAudioCapturer::Loop {
    std::string source;
    Callback cb;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> running{false};
    std::mutex lock; // guards `mainloop`, which stop() wakes
    pa_mainloop* mainloop = nullptr;
    std::promise<std::string> started; // empty text: the stream runs; else why it could not start
    bool startReported = false;
    std::vector<int16_t> pending; // samples not yet making up a whole buffer

    void run();
    void report(const std::string& error) {
        if (startReported) return;
        startReported = true;
        started.set_value(error);
    }
    void onReadable(pa_stream* s);
};

PulseAudioCapturer::PulseAudioCapturer(std::string source) : source_(std::move(source)) {}

PulseAudioCapturer::~PulseAudioCapturer() { stop(); }

bool PulseAudioCapturer::running() const { return loop_ && loop_->running.load(); }

void PulseAudioCapturer::start(Callback cb) {
    stop();
    auto loop = std::make_shared<Loop>();
    loop->source = source_;
    loop->cb = std::move(cb);
    std::future<std::string> started = loop->started.get_future();
    loop_ = loop;
    thread_ = std::thread([loop] { loop->run(); });
    if (started.wait_for(startTimeout) != std::future_status::ready) {
        stop();
        throw AgentError(AgentError::Kind::capture,
                         "PulseAudio did not answer within " + std::to_string(startTimeout.count()) + " s");
    }
    if (const std::string error = started.get(); !error.empty()) {
        stop();
        throw AgentError(AgentError::Kind::capture, error);
    }
}

void PulseAudioCapturer::stop() {
    if (!loop_) return;
    loop_->stopRequested = true;
    {
        const std::lock_guard guard(loop_->lock);
        if (loop_->mainloop) pa_mainloop_wakeup(loop_->mainloop);
    }
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();
        else
            thread_.join();
    }
    loop_.reset();
}

void PulseAudioCapturer::Loop::onReadable(pa_stream* s) {
    while (pa_stream_readable_size(s) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0) break;
        // A hole (data == nullptr) is audio the server lost; nothing to send for it.
        if (data) {
            const auto* samples = static_cast<const int16_t*>(data);
            pending.insert(pending.end(), samples, samples + bytes / sizeof(int16_t));
        }
        pa_stream_drop(s);
    }
    const std::size_t whole = framesPerBuffer * channels;
    std::size_t at = 0;
    for (; pending.size() - at >= whole && !stopRequested; at += whole)
        if (cb) cb(std::span<const int16_t>(pending.data() + at, whole), sampleRate, channels);
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(at));
}

void PulseAudioCapturer::Loop::run() {
    armSignalStack();
    nameCurrentThread("dovrel.capture.audio");
    std::unique_ptr<pa_mainloop, MainloopFree> ml(pa_mainloop_new());
    if (!ml) {
        report("PulseAudio: out of memory");
        return;
    }
    {
        const std::lock_guard guard(lock);
        mainloop = ml.get();
    }
    std::unique_ptr<pa_context, ContextFree> ctx;
    std::unique_ptr<pa_stream, StreamFree> stream;
    std::string ended;
    if (pa_context* c = pa_context_new(pa_mainloop_get_api(ml.get()), "Dovrel")) {
        if (pa_context_connect(c, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            ended = std::string("PulseAudio: ") + pa_strerror(pa_context_errno(c));
            pa_context_unref(c);
        } else {
            ctx.reset(c);
        }
    } else {
        ended = "PulseAudio: out of memory";
    }

    while (ended.empty() && !stopRequested) {
        if (pa_mainloop_iterate(ml.get(), 1, nullptr) < 0) {
            ended = "PulseAudio main loop failed";
            break;
        }
        const pa_context_state_t cs = pa_context_get_state(ctx.get());
        if (cs == PA_CONTEXT_FAILED || cs == PA_CONTEXT_TERMINATED) {
            ended = std::string("PulseAudio: ") + pa_strerror(pa_context_errno(ctx.get()));
            break;
        }
        if (cs == PA_CONTEXT_READY && !stream) {
            const pa_sample_spec format{PA_SAMPLE_S16LE, sampleRate, channels};
            pa_stream* s = pa_stream_new(ctx.get(), "system audio", &format, nullptr);
            if (!s) {
                ended = std::string("PulseAudio: ") + pa_strerror(pa_context_errno(ctx.get()));
                break;
            }
            stream.reset(s);
            pa_stream_set_read_callback(
                s, [](pa_stream* st, std::size_t, void* self) { static_cast<Loop*>(self)->onReadable(st); }, this);
            // Small fragments: audio should not lag the picture by more than a few milliseconds.
            pa_buffer_attr attr{};
            attr.maxlength = static_cast<uint32_t>(-1);
            attr.tlength = static_cast<uint32_t>(-1);
            attr.prebuf = static_cast<uint32_t>(-1);
            attr.minreq = static_cast<uint32_t>(-1);
            attr.fragsize = static_cast<uint32_t>(framesPerBuffer * channels * sizeof(int16_t));
            if (pa_stream_connect_record(s, source.c_str(), &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
                ended = std::string("PulseAudio: ") + pa_strerror(pa_context_errno(ctx.get()));
                break;
            }
        }
        if (stream) {
            const pa_stream_state_t ss = pa_stream_get_state(stream.get());
            if (ss == PA_STREAM_FAILED || ss == PA_STREAM_TERMINATED) {
                ended = "PulseAudio cannot record " + source + ": " + pa_strerror(pa_context_errno(ctx.get()));
                break;
            }
            if (ss == PA_STREAM_READY && !startReported) {
                running = true;
                report({});
            }
        }
    }
    running = false;
    if (!startReported)
        report(ended.empty() ? "stopped while starting" : ended);
    else if (!ended.empty() && !stopRequested)
        print("[audio] " + ended + " — no audio until capture restarts");
    stream.reset();
    ctx.reset();
    const std::lock_guard guard(lock);
    mainloop = nullptr;
}

} // namespace dovrel::agent
