#include "agent/media/PipeWireStream.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include <linux/dma-buf.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include "agent/common/AgentError.h"
#include "agent/common/AgentLog.h"
#include "agent/common/Diag.h"
#include "agent/common/ThreadName.h"
#include "agent/media/ReusePool.h"
#include "runtime/SignalStack.h"

namespace dovrel::agent {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint64_t modifierLinear = 0; // DRM_FORMAT_MOD_LINEAR
constexpr auto heartbeat = 1s;
constexpr int emptyJoinsAllowed = 5;    // connections in a row without their buffers' memory before giving up
constexpr auto firstRejoinWait = 100ms; // doubling with each such connection in a row

std::once_flag pipewireInit;

// What the producer may send: BGRx or BGRA at any size, as often as the screen changes (a variable
// rate, at most `fps`: the producer renders no more pictures than that, so that while nobody watches a
// busy screen costs the compositor a picture a second instead of one each time it paints). With
// `linear`, only as linear DMA-BUFs, which the CPU can read as they are.
spa_pod* enumFormat(spa_pod_builder& b, bool linear, int fps) {
    spa_pod_frame object{}, choice{};
    spa_pod_builder_push_object(&b, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_prop(&b, SPA_FORMAT_mediaType, 0);
    spa_pod_builder_id(&b, SPA_MEDIA_TYPE_video);
    spa_pod_builder_prop(&b, SPA_FORMAT_mediaSubtype, 0);
    spa_pod_builder_id(&b, SPA_MEDIA_SUBTYPE_raw);
    spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_format, 0);
    spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Enum, 0);
    spa_pod_builder_id(&b, SPA_VIDEO_FORMAT_BGRx);
    spa_pod_builder_id(&b, SPA_VIDEO_FORMAT_BGRx);
    spa_pod_builder_id(&b, SPA_VIDEO_FORMAT_BGRA);
    spa_pod_builder_pop(&b, &choice);
    if (linear) {
        spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_modifier, SPA_POD_PROP_FLAG_MANDATORY);
        spa_pod_builder_long(&b, static_cast<int64_t>(modifierLinear));
    }
    spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_size, 0);
    spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Range, 0);
    spa_pod_builder_rectangle(&b, 1920, 1080);
    spa_pod_builder_rectangle(&b, 1, 1);
    spa_pod_builder_rectangle(&b, 16384, 16384);
    spa_pod_builder_pop(&b, &choice);
    spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_framerate, 0);
    spa_pod_builder_fraction(&b, 0, 1);
    spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_maxFramerate, 0);
    const auto rate = static_cast<uint32_t>(std::clamp(fps, 1, maxCaptureFPS));
    spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Range, 0);
    spa_pod_builder_fraction(&b, rate, 1);
    spa_pod_builder_fraction(&b, 1, 1);
    spa_pod_builder_fraction(&b, rate, 1);
    spa_pod_builder_pop(&b, &choice);
    return static_cast<spa_pod*>(spa_pod_builder_pop(&b, &object));
}

// How the buffers of the agreed format may carry their pixels.
spa_pod* buffersParam(spa_pod_builder& b, bool dmabuf) {
    spa_pod_frame object{}, choice{};
    spa_pod_builder_push_object(&b, &object, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
    spa_pod_builder_prop(&b, SPA_PARAM_BUFFERS_buffers, 0);
    spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Range, 0);
    spa_pod_builder_int(&b, 4);
    spa_pod_builder_int(&b, 2);
    spa_pod_builder_int(&b, 16);
    spa_pod_builder_pop(&b, &choice);
    spa_pod_builder_prop(&b, SPA_PARAM_BUFFERS_blocks, 0);
    spa_pod_builder_int(&b, 1);
    spa_pod_builder_prop(&b, SPA_PARAM_BUFFERS_dataType, 0);
    spa_pod_builder_push_choice(&b, &choice, SPA_CHOICE_Flags, 0);
    spa_pod_builder_int(&b, dmabuf ? (1 << SPA_DATA_DmaBuf) : (1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr));
    spa_pod_builder_pop(&b, &choice);
    return static_cast<spa_pod*>(spa_pod_builder_pop(&b, &object));
}

// Each buffer carries the producer's header, with the time it took the picture.
spa_pod* headerParam(spa_pod_builder& b) {
    return static_cast<spa_pod*>(spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
                                                            SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
                                                            SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
}

// When the producer took the picture, where its header says so on this clock (GNOME's compositor stamps
// the monotonic clock); otherwise `now`.
Clock::time_point takenAt(const spa_buffer& buf, Clock::time_point now) {
    const auto* header =
        static_cast<const spa_meta_header*>(spa_buffer_find_meta_data(&buf, SPA_META_Header, sizeof(spa_meta_header)));
    if (!header || header->pts <= 0) return now;
    const Clock::time_point at{std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(header->pts))};
    return at <= now && now - at < 1s ? at : now;
}

// What the stream keeps of one of the producer's buffers: its pixels as the CPU sees them (a DMA-BUF is
// mapped once, as the buffer is added, not for every picture), and when the picture it holds now was
// taken, which the data thread notes before it hands the buffer over.
class BufferMemory {
public:
    explicit BufferMemory(const spa_data& d) : dmabuf_(d.type == SPA_DATA_DmaBuf), fd_(static_cast<int>(d.fd)) {
        if (d.data) {
            base_ = static_cast<const uint8_t*>(d.data);
            return;
        }
        if (d.fd < 0 || (d.type != SPA_DATA_DmaBuf && d.type != SPA_DATA_MemFd)) return;
        length_ = static_cast<size_t>(d.mapoffset) + d.maxsize;
        void* map = ::mmap(nullptr, length_, PROT_READ, MAP_SHARED, fd_, 0);
        if (map == MAP_FAILED) return;
        map_ = map;
        base_ = static_cast<const uint8_t*>(map) + d.mapoffset;
    }
    ~BufferMemory() {
        if (map_) ::munmap(map_, length_);
    }
    BufferMemory(const BufferMemory&) = delete;
    BufferMemory& operator=(const BufferMemory&) = delete;

    // The pixels, or nullptr when the CPU cannot read them.
    const uint8_t* base() const { return base_; }
    // Brackets a read: a DMA-BUF's may wait for the producer's fence (a plain memory descriptor has none).
    void beginRead() const { sync(DMA_BUF_SYNC_START); }
    void endRead() const { sync(DMA_BUF_SYNC_END); }

    Clock::time_point takenAt{};

private:
    void sync(uint64_t when) const {
        if (!dmabuf_ || !map_) return;
        dma_buf_sync s{when | DMA_BUF_SYNC_READ};
        ::ioctl(fd_, DMA_BUF_IOCTL_SYNC, &s);
    }
    bool dmabuf_;
    int fd_;
    const uint8_t* base_ = nullptr;
    void* map_ = nullptr;
    size_t length_ = 0;
};

} // namespace

struct PipeWireStream::Loop {
    ScreenCapturer::FrameCallback onFrame;
    std::function<void(const std::string&)> onStopped;
    std::shared_ptr<std::atomic<int>> fps;

    pw_thread_loop* thread = nullptr;
    bool started = false;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook coreListener{};
    spa_hook streamListener{};
    pw_core_events coreEvents{};
    pw_stream_events streamEvents{};
    spa_source* pacer = nullptr;   // the waiting picture's slot
    spa_source* beat = nullptr;    // once a second
    spa_source* request = nullptr; // requestFrame()
    spa_source* rate = nullptr;    // retime()
    spa_source* reoffer = nullptr; // shared memory asked for after an unreadable DMA-BUF
    spa_source* rejoin = nullptr;  // a connection whose buffers came without their memory made again
    spa_source* arrival = nullptr; // a picture handed over by the data thread
    pw_loop* dataLoop = nullptr;   // PipeWire's data thread's, where process() runs and buffers go back

    // Written on the loop thread, read by waitForFormat() under `lock`.
    std::mutex lock;
    std::condition_variable formatSeen;
    std::optional<Size> size;
    std::string failure;
    std::atomic<bool> dmabuf{false};
    std::atomic<bool> retimed{false};
    std::atomic<int> asked{0}; // pictures requestFrames() wants, taken by the loop thread
    std::atomic<bool> dmabufRefused{false};

    // The newest picture's buffer, handed from the data thread to the loop thread, which copies it out;
    // the one it replaces went back to the producer. When the data thread last took a picture in.
    std::atomic<pw_buffer*> pending{nullptr};
    std::atomic<Clock::rep> arrivedAt{0};

    // Loop thread only.
    spa_video_info_raw format{};
    ReusePool<FrameBuffer> pool{3};
    std::unordered_map<const pw_buffer*, std::unique_ptr<BufferMemory>> memory; // each buffer's, while it is ours
    bool leaving = false; // the stream is being taken down: its own disconnect is no stop
    bool stopped = false;
    bool connected = false;
    bool reconnecting = false; // the node being left to be joined again
    bool emptyJoin = false;    // this connection's buffers came without their memory
    int emptyJoins = 0;        // such connections in a row
    uint32_t node = 0;
    bool streaming = false;
    bool offeredDmabuf = false;        // the formats last offered to the producer hold DMA-BUFs
    int offeredFps = 0;                // the highest rate asked of the producer
    std::optional<CapturedFrame> held; // the newest picture, waiting for its slot
    Clock::time_point slot{};
    Clock::time_point lastDelivered{};
    std::optional<CapturedFrame> last;
    int owed = 0; // pictures still to deliver at the rate for a request, the next one counting

    ~Loop() {
        if (!thread) return;
        if (started) pw_thread_loop_stop(thread);
        pw_loop* loop = pw_thread_loop_get_loop(thread);
        if (stream) {
            leaving = true;
            // The data thread calls process() through the listener until the stream has left the graph
            // and a call under way has returned: only then may the listener go.
            pw_stream_disconnect(stream);
            if (dataLoop)
                pw_loop_invoke(
                    dataLoop, [](spa_loop*, bool, uint32_t, const void*, size_t, void*) { return 0; }, 0, nullptr, 0,
                    true, nullptr);
            spa_hook_remove(&streamListener);
            pw_stream_destroy(stream);
        }
        for (spa_source* s : {pacer, beat, request, rate, reoffer, rejoin, arrival})
            if (s) pw_loop_destroy_source(loop, s);
        if (core) {
            spa_hook_remove(&coreListener);
            pw_core_disconnect(core);
        }
        if (context) pw_context_destroy(context);
        pw_thread_loop_destroy(thread);
    }

    Clock::duration interval() const { return captureInterval(fps->load(std::memory_order_relaxed)); }

    void stop(const std::string& why) {
        {
            const std::lock_guard guard(lock);
            if (!size && failure.empty()) failure = why;
        }
        formatSeen.notify_all();
        if (stopped) return;
        stopped = true;
        print("• screen capture STOPPED by the system: " + why);
        if (onStopped) onStopped(why);
    }

    void formatChanged(const spa_pod* param) {
        spa_video_info_raw info{};
        uint32_t mediaType = 0, mediaSubtype = 0;
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video ||
            mediaSubtype != SPA_MEDIA_SUBTYPE_raw || spa_format_video_raw_parse(param, &info) < 0)
            return;
        // The same size and pixels (a new rate, on a new connection) keep the last picture and the one
        // waiting for its slot: a still screen sends no other.
        if (info.size.width != format.size.width || info.size.height != format.size.height ||
            info.format != format.format) {
            last.reset();
            held.reset();
            pool.clear();
        }
        format = info;
        const bool viaDmabuf = (info.flags & SPA_VIDEO_FLAG_MODIFIER) != 0;
        dmabuf = viaDmabuf;
        uint8_t buffer[1024];
        spa_pod_builder b{};
        spa_pod_builder_init(&b, buffer, sizeof buffer);
        const spa_pod* params[] = {buffersParam(b, viaDmabuf), headerParam(b)};
        pw_stream_update_params(stream, params, 2);
        {
            const std::lock_guard guard(lock);
            size = Size{static_cast<int>(info.size.width), static_cast<int>(info.size.height)};
        }
        formatSeen.notify_all();
    }

    // The formats this stream takes at the capture rate now, built in `b`: linear DMA-BUFs first unless
    // they proved unreadable, then shared memory.
    std::vector<const spa_pod*> formats(spa_pod_builder& b) {
        offeredFps = std::clamp(fps->load(), 1, maxCaptureFPS);
        offeredDmabuf = !dmabufRefused.load();
        std::vector<const spa_pod*> params;
        if (offeredDmabuf) params.push_back(enumFormat(b, true, offeredFps));
        params.push_back(enumFormat(b, false, offeredFps));
        return params;
    }

    // The formats offered anew: the producer renegotiates.
    void offerFormats() {
        uint8_t buffer[2048];
        spa_pod_builder b{};
        spa_pod_builder_init(&b, buffer, sizeof buffer);
        std::vector<const spa_pod*> params = formats(b);
        pw_stream_update_params(stream, params.data(), static_cast<uint32_t>(params.size()));
    }

    // A DMA-BUF the CPU cannot read: ask for shared memory from now on, on the loop's next turn, never from
    // inside a buffer's removal in the middle of a disconnect.
    void refuseDmabuf() {
        if (!dmabufRefused.exchange(true)) pw_loop_signal_event(pw_thread_loop_get_loop(thread), reoffer);
    }

    // A connection made since asked for shared memory only (a new rate's): nothing to renegotiate.
    void reofferFormats() {
        print("⚠︎ the screen's DMA-BUFs cannot be read here — asking GNOME for shared memory instead");
        if (!stopped && offeredDmabuf) offerFormats();
    }

    // A new rate is agreed on a new connection, not by renegotiating this one: GNOME's compositor drops
    // the picture it is recording while a running stream renegotiates and records again only when the
    // screen next changes, so the last change before it (a window's fade-in ending as the agent starts, a
    // click just before a session) would never come. A stream that starts gets the screen as it is.
    void rateChanged() {
        if (stopped) return; // ended: nothing to join again
        if (std::clamp(fps->load(), 1, maxCaptureFPS) == offeredFps) return pump(false);
        joinAgain();
    }

    // PipeWire at times hands a new connection the producer's buffers before the producer has given them
    // their memory (GNOME's compositor makes it anew for each connection; more often when the machine is
    // busy): not one picture of such a connection could be read, and a screen that then stands still
    // would stay stale. Such a connection is made again, a while later each time: made again at once,
    // it came the same way about a third of the time.
    void bufferAdded(pw_buffer& b) {
        const spa_buffer& buf = *b.buffer;
        const bool hasMemory =
            buf.n_datas > 0 && (buf.datas[0].data || (buf.datas[0].fd >= 0 && (buf.datas[0].type == SPA_DATA_MemFd ||
                                                                               buf.datas[0].type == SPA_DATA_DmaBuf)));
        if (buf.n_datas > 0) {
            auto mem = std::make_unique<BufferMemory>(buf.datas[0]);
            b.user_data = mem.get();
            memory[&b] = std::move(mem);
        }
        if (hasMemory || emptyJoin) return;
        emptyJoin = true;
        armTimer(rejoin, firstRejoinWait * (1 << std::min(emptyJoins, emptyJoinsAllowed)));
    }

    // The buffers go before a new format is agreed and as a connection ends (a new rate's). One still
    // waiting to be copied holds the screen as it is, which a still screen sends no other time: it is
    // copied now, while its memory is there, to go out in its slot; it is not ours to give back any more.
    void bufferRemoved(pw_buffer& b) {
        pw_buffer* waiting = &b;
        if (pending.compare_exchange_strong(waiting, nullptr) && !leaving) {
            CapturedFrame frame;
            if (copyOut(b, frame)) {
                held = std::move(frame);
                armPacer(slot);
            }
        }
        b.user_data = nullptr;
        memory.erase(&b);
    }

    void joinEmptyAgain() {
        if (stopped || !emptyJoin) return;
        if (++emptyJoins > emptyJoinsAllowed)
            return stop("PipeWire gave the screen's stream no memory for its pictures " + std::to_string(emptyJoins) +
                        " times in a row");
        print("⚠︎ the screen's stream came without memory for its pictures — joining it again");
        joinAgain();
    }

    // Leaves the producer's node and joins it again, with the formats at the capture rate now.
    void joinAgain() {
        reconnecting = true;
        pw_stream_disconnect(stream);
        reconnecting = false;
        if (const int res = connect(); res < 0)
            stop("the screen's stream could not be joined again (" + std::string(spa_strerror(res)) + ")");
    }

    // Joins the producer's node with the formats at the capture rate now.
    int connect() {
        uint8_t buffer[2048];
        spa_pod_builder b{};
        spa_pod_builder_init(&b, buffer, sizeof buffer);
        std::vector<const spa_pod*> params = formats(b);
        emptyJoin = false;
        // When the node goes (its session ended), the stream ends with it: the session manager would
        // otherwise link it to whichever node takes the same number next, another session's screen among
        // them.
        return pw_stream_connect(stream, PW_DIRECTION_INPUT, node,
                                 static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                              PW_STREAM_FLAG_DONT_RECONNECT |
                                                              PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS),
                                 params.data(), static_cast<uint32_t>(params.size()));
    }

    // On PipeWire's data thread, in the graph's cycle, where nothing may block: the newest picture's
    // buffer is handed to the loop thread, and every other buffer, the one handed over before and not yet
    // taken included, goes back at once. PipeWire hands a given-back buffer to the producer only in a
    // cycle, one a cycle, and GNOME's compositor starts one only with a buffer to record into: buffers
    // kept while the loop thread is held up (a busy machine) would, once the compositor had filled every
    // one, wait for good, and the screen would stand still. So the stream never keeps more than two: the
    // one waiting here and the one being copied.
    void process() {
        armSignalStack(); // PipeWire started the thread; it is ours all the same
        pw_buffer* newest = nullptr;
        while (pw_buffer* b = pw_stream_dequeue_buffer(stream)) {
            if (newest) pw_stream_queue_buffer(stream, newest);
            newest = b;
        }
        if (!newest) return;
        const Clock::time_point now = Clock::now();
        arrivedAt.store(now.time_since_epoch().count(), std::memory_order_relaxed);
        const spa_buffer* buf = newest->buffer;
        const spa_chunk* chunk = buf->n_datas > 0 ? buf->datas[0].chunk : nullptr;
        // An empty or damaged picture says nothing new about the screen.
        if (auto* mem = static_cast<BufferMemory*>(newest->user_data);
            mem && chunk && chunk->size > 0 && !(chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)) {
            mem->takenAt = takenAt(*buf, now);
            newest = pending.exchange(newest, std::memory_order_acq_rel); // the one it replaces
        }
        if (newest) pw_stream_queue_buffer(stream, newest);
        pw_loop_signal_event(pw_thread_loop_get_loop(thread), arrival);
    }

    // The data thread took a picture in: the newest is copied out and its buffer given back at once.
    void pictureArrived() {
        Diag::stamp(Diag::Stamp::lastStreamAt, Clock::time_point(Clock::duration(arrivedAt.load())));
        pw_buffer* b = pending.exchange(nullptr, std::memory_order_acq_rel);
        if (!b) return;
        CapturedFrame frame;
        const bool copied = copyOut(*b, frame);
        giveBack(b);
        if (!copied) return;
        held = std::move(frame);
        pump(false);
    }

    // Gives `b` back to the producer on the data thread, the one thread that queues buffers (PipeWire's
    // queues take one writer); returns once it is back, so that no buffer of a connection this thread
    // ends next is given back after it ended. The data thread blocks on nothing, so the wait is short.
    void giveBack(pw_buffer* b) {
        pw_loop_invoke(
            dataLoop,
            [](spa_loop*, bool, uint32_t, const void* data, size_t, void* user) {
                pw_stream_queue_buffer(static_cast<Loop*>(user)->stream, *static_cast<pw_buffer* const*>(data));
                return 0;
            },
            0, &b, sizeof b, true, this);
    }

    void armPacer(Clock::time_point at) { armTimer(pacer, at - Clock::now()); }

    void armTimer(spa_source* timer, Clock::duration after) {
        const auto wait = std::max<int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(after).count(), 1);
        timespec value{static_cast<time_t>(wait / 1'000'000'000), static_cast<long>(wait % 1'000'000'000)};
        timespec none{};
        pw_loop_update_timer(pw_thread_loop_get_loop(thread), timer, &value, &none, false);
    }

    // Delivers the waiting picture when its slot has come (or at once when `force`).
    void pump(bool force) {
        if (!held) return repeatOwed();
        const Clock::time_point t = Clock::now();
        const Clock::duration step = interval();
        if (retimed.exchange(false)) slot = {}; // a new rate: a new grid from this picture
        if (!force && t < slot) return armPacer(slot);
        CapturedFrame frame = std::move(*held);
        held.reset();
        if (t - slot > step / 2) slot = t; // off the grid (a still screen, a late wake): a new one
        slot += step;
        deliver(frame, t);
        if (owed > 0 && --owed > 0) armPacer(slot);
    }

    // A request still wants pictures and the screen sent none: the last one again, in its slot.
    void repeatOwed() {
        if (owed <= 0 || !last) return;
        const Clock::time_point t = Clock::now();
        CapturedFrame again = *last;
        again.capturedAt = t;
        slot = t + interval();
        deliver(again, t);
        if (--owed > 0) armPacer(slot);
    }

    // When the consumer still holds every one of the pool's buffers, the picture gets one of its own
    // (it goes when its last frame does): the screen's last change must not be lost, and the producer's
    // buffer cannot wait.
    bool copyOut(const pw_buffer& b, CapturedFrame& out) {
        const auto* mem = static_cast<const BufferMemory*>(b.user_data);
        const spa_buffer& buf = *b.buffer;
        if (!mem || buf.n_datas == 0) return false;
        const spa_data& d = buf.datas[0];
        const int w = static_cast<int>(format.size.width), h = static_cast<int>(format.size.height);
        if (w <= 0 || h <= 0) return false;
        if (!mem->base()) {
            if (d.type == SPA_DATA_DmaBuf) refuseDmabuf();
            return false;
        }
        const int rowBytes = w * 4;
        const int stride = d.chunk->stride > 0 ? d.chunk->stride : rowBytes;
        const uint64_t offset = d.chunk->offset;
        const uint64_t needed = offset + static_cast<uint64_t>(stride) * static_cast<uint64_t>(h - 1) + rowBytes;
        if (stride < rowBytes || needed > d.maxsize) return false; // more than the buffer holds
        const auto make = [&] { return std::make_shared<FrameBuffer>(PixelFormat::bgra, w, h); };
        auto target = pool.take(make);
        if (!target) target = make();
        const uint8_t* from = mem->base() + offset;
        mem->beginRead();
        for (int y = 0; y < h; ++y)
            std::memcpy(target->plane(0) + static_cast<std::ptrdiff_t>(y) * target->stride(0),
                        from + static_cast<std::ptrdiff_t>(y) * stride, static_cast<size_t>(rowBytes));
        mem->endRead();
        out = FrameBuffer::frame(target, mem->takenAt);
        return true;
    }

    void deliver(CapturedFrame frame, Clock::time_point t) {
        lastDelivered = t;
        last = frame;
        if (onFrame) onFrame(frame);
    }

    void tick() {
        const Clock::time_point t = Clock::now();
        if (streaming) Diag::stamp(Diag::Stamp::lastStreamAt, t);
        if (held || !last || t - lastDelivered < heartbeat) return;
        CapturedFrame again = *last;
        again.capturedAt = t;
        deliver(again, t);
    }

    void requested() {
        owed = std::max(owed, asked.exchange(0));
        if (held) return pump(true);
        repeatOwed();
    }

    void stateChanged(pw_stream_state state, const char* error) {
        if (leaving) return;
        streaming = state == PW_STREAM_STATE_STREAMING;
        if (state == PW_STREAM_STATE_PAUSED || streaming) connected = true;
        if (streaming && !emptyJoin) emptyJoins = 0;
        if (state == PW_STREAM_STATE_ERROR)
            stop(std::string("the screen's stream failed: ") + (error ? error : "no reason given"));
        else if (state == PW_STREAM_STATE_UNCONNECTED && connected && !reconnecting)
            stop("the screen's stream was disconnected");
    }
};

PipeWireStream::PipeWireStream(uint32_t node, ScreenCapturer::FrameCallback onFrame,
                               std::function<void(const std::string&)> onStopped, std::shared_ptr<std::atomic<int>> fps)
    : loop_(std::make_shared<Loop>()) {
    std::call_once(pipewireInit, [] { pw_init(nullptr, nullptr); });
    Loop& l = *loop_;
    l.onFrame = std::move(onFrame);
    l.onStopped = std::move(onStopped);
    l.fps = std::move(fps);
    l.node = node;
    l.thread = pw_thread_loop_new("dovrel.capture", nullptr);
    if (!l.thread) throw AgentError(AgentError::Kind::capture, "PipeWire could not make its thread");
    pw_loop* loop = pw_thread_loop_get_loop(l.thread);
    l.context = pw_context_new(loop, nullptr, 0);
    if (!l.context) throw AgentError(AgentError::Kind::capture, "PipeWire could not start here");
    l.dataLoop = pw_data_loop_get_loop(pw_context_get_data_loop(l.context));
    pw_thread_loop_lock(l.thread);
    struct Unlock {
        pw_thread_loop* t;
        ~Unlock() { pw_thread_loop_unlock(t); }
    } unlock{l.thread};
    l.core = pw_context_connect(l.context, nullptr, 0);
    if (!l.core)
        throw AgentError(AgentError::Kind::capture,
                         std::string("cannot reach the PipeWire daemon (") + std::strerror(errno) + ")");
    l.coreEvents.version = PW_VERSION_CORE_EVENTS;
    l.coreEvents.error = [](void* data, uint32_t id, int, int res, const char* message) {
        if (id == PW_ID_CORE && res == -EPIPE)
            static_cast<Loop*>(data)->stop(std::string("PipeWire went away (") + (message ? message : "") + ")");
    };
    pw_core_add_listener(l.core, &l.coreListener, &l.coreEvents, &l);

    pw_properties* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Screen", nullptr);
    l.stream = pw_stream_new(l.core, "dovrel-screen", props);
    if (!l.stream) throw AgentError(AgentError::Kind::capture, "PipeWire would not make a stream");
    l.streamEvents.version = PW_VERSION_STREAM_EVENTS;
    l.streamEvents.state_changed = [](void* data, pw_stream_state, pw_stream_state state, const char* error) {
        static_cast<Loop*>(data)->stateChanged(state, error);
    };
    l.streamEvents.param_changed = [](void* data, uint32_t id, const spa_pod* param) {
        if (param && id == SPA_PARAM_Format) static_cast<Loop*>(data)->formatChanged(param);
    };
    l.streamEvents.process = [](void* data) { static_cast<Loop*>(data)->process(); };
    l.streamEvents.add_buffer = [](void* data, pw_buffer* b) { static_cast<Loop*>(data)->bufferAdded(*b); };
    l.streamEvents.remove_buffer = [](void* data, pw_buffer* b) { static_cast<Loop*>(data)->bufferRemoved(*b); };
    pw_stream_add_listener(l.stream, &l.streamListener, &l.streamEvents, &l);

    l.pacer = pw_loop_add_timer(
        loop, [](void* data, uint64_t) { static_cast<Loop*>(data)->pump(false); }, &l);
    l.beat = pw_loop_add_timer(
        loop, [](void* data, uint64_t) { static_cast<Loop*>(data)->tick(); }, &l);
    l.request = pw_loop_add_event(
        loop, [](void* data, uint64_t) { static_cast<Loop*>(data)->requested(); }, &l);
    l.rate = pw_loop_add_event(
        loop, [](void* data, uint64_t) { static_cast<Loop*>(data)->rateChanged(); }, &l);
    l.reoffer = pw_loop_add_event(
        loop, [](void* data, uint64_t) { static_cast<Loop*>(data)->reofferFormats(); }, &l);
    l.rejoin = pw_loop_add_timer(
        loop, [](void* data, uint64_t) { static_cast<Loop*>(data)->joinEmptyAgain(); }, &l);
    l.arrival = pw_loop_add_event(
        loop, [](void* data, uint64_t) { static_cast<Loop*>(data)->pictureArrived(); }, &l);
    timespec second{1, 0};
    pw_loop_update_timer(loop, l.beat, &second, &second, false);

    const int res = l.connect();
    if (res < 0)
        throw AgentError(AgentError::Kind::capture,
                         "PipeWire would not connect to the screen's stream (" + std::string(spa_strerror(res)) + ")");
    if (pw_thread_loop_start(l.thread) < 0)
        throw AgentError(AgentError::Kind::capture, "PipeWire could not start its thread");
    l.started = true;
    pw_loop_invoke(
        loop,
        [](spa_loop*, bool, uint32_t, const void*, size_t, void*) {
            // PipeWire started the thread; it is ours all the same.
            armSignalStack();
            nameCurrentThread("dovrel.capture");
            return 0;
        },
        0, nullptr, 0, false, nullptr);
}

PipeWireStream::~PipeWireStream() {
    if (loop_->thread && pw_thread_loop_in_thread(loop_->thread)) {
        // A thread cannot join itself: another takes the loop down once this callback has returned.
        std::thread([loop = std::move(loop_)]() mutable {
            armSignalStack();
            loop.reset();
        }).detach();
    }
}

PipeWireStream::Size PipeWireStream::waitForFormat(std::chrono::milliseconds timeout) {
    Loop& l = *loop_;
    std::unique_lock lk(l.lock);
    if (!l.formatSeen.wait_for(lk, timeout, [&] { return l.size || !l.failure.empty(); }))
        throw AgentError(AgentError::Kind::capture, "GNOME's screen stream agreed on no picture format within " +
                                                        std::to_string(timeout.count() / 1000) + " s");
    if (!l.size) throw AgentError(AgentError::Kind::capture, l.failure);
    return *l.size;
}

bool PipeWireStream::usesDmaBuf() const { return loop_->dmabuf.load(); }

void PipeWireStream::requestFrame() { requestFrames(1); }

void PipeWireStream::requestFrames(int count) {
    if (count <= 0) return;
    int before = loop_->asked.load();
    while (before < count && !loop_->asked.compare_exchange_weak(before, count)) {
    }
    if (loop_->thread && loop_->request) pw_loop_signal_event(pw_thread_loop_get_loop(loop_->thread), loop_->request);
}

void PipeWireStream::retime() {
    loop_->retimed = true;
    if (loop_->thread && loop_->rate) pw_loop_signal_event(pw_thread_loop_get_loop(loop_->thread), loop_->rate);
}

} // namespace dovrel::agent
