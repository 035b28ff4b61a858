// PipeWireStream against a video source of the test's own on the session's PipeWire daemon: pictures
// arrive in the source's colour, stamped with the time the source gave them, and never more often than
// the capture rate, which the source is told on a new connection (a change of it loses no picture of
// the screen, not even while the consumer holds every copy); a source that describes more pixels than
// its buffers hold is not read past them, a time from the future is not believed, a source that goes
// ends the stream, and the stream's thread held up never keeps the source's buffers from it.
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include "GnomeTestSupport.h"
#include "agent/common/Diag.h"
#include "agent/media/PipeWireStream.h"

using namespace dovrel::agent;
using namespace std::chrono_literals;

namespace {

constexpr int W = 320, H = 240;

// A BGRx source that drives the graph and sends a picture every 10 ms, with a chunk the test can make lie about its
// stride. Like a compositor, it offers any rate up to 60 pictures a second and notes the one agreed, and sends the
// screen as it is whenever a stream starts, still or not. With `onlyWithABuffer` it starts the graph's cycle only for a
// picture recorded into a free buffer, as GNOME's compositor does.
class TestSource {
public:
    explicit TestSource(uint32_t first) : colour(first) {
        pw_init(nullptr, nullptr);
        thread_ = pw_thread_loop_new("test-source", nullptr);
        pw_thread_loop_lock(thread_);
        context_ = pw_context_new(pw_thread_loop_get_loop(thread_), nullptr, 0);
        core_ = pw_context_connect(context_, nullptr, 0);
        stream_ = pw_stream_new(core_, "test-source",
                                pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE, "Video",
                                                  PW_KEY_MEDIA_CATEGORY, "Source", nullptr));
        events_.version = PW_VERSION_STREAM_EVENTS;
        events_.param_changed = [](void* data, uint32_t id, const spa_pod* param) {
            if (param && id == SPA_PARAM_Format) static_cast<TestSource*>(data)->formatChanged(param);
        };
        events_.process = [](void* data) { static_cast<TestSource*>(data)->send(); };
        events_.state_changed = [](void* data, pw_stream_state, pw_stream_state state, const char*) {
            if (state == PW_STREAM_STATE_STREAMING) static_cast<TestSource*>(data)->started = true;
        };
        pw_stream_add_listener(stream_, &listener_, &events_, this);
        uint8_t buffer[1024];
        spa_pod_builder b{};
        spa_pod_builder_init(&b, buffer, sizeof buffer);
        spa_pod_frame f{};
        spa_pod_builder_push_object(&b, &f, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
        spa_pod_builder_prop(&b, SPA_FORMAT_mediaType, 0);
        spa_pod_builder_id(&b, SPA_MEDIA_TYPE_video);
        spa_pod_builder_prop(&b, SPA_FORMAT_mediaSubtype, 0);
        spa_pod_builder_id(&b, SPA_MEDIA_SUBTYPE_raw);
        spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_format, 0);
        spa_pod_builder_id(&b, SPA_VIDEO_FORMAT_BGRx);
        spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_size, 0);
        spa_pod_builder_rectangle(&b, W, H);
        spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_framerate, 0);
        spa_pod_builder_fraction(&b, 0, 1);
        spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_maxFramerate, 0);
        spa_pod_frame range{};
        spa_pod_builder_push_choice(&b, &range, SPA_CHOICE_Range, 0);
        spa_pod_builder_fraction(&b, 60, 1);
        spa_pod_builder_fraction(&b, 1, 1);
        spa_pod_builder_fraction(&b, 60, 1);
        spa_pod_builder_pop(&b, &range);
        const spa_pod* params[] = {static_cast<spa_pod*>(spa_pod_builder_pop(&b, &f))};
        pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                          static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
        timer_ = pw_loop_add_timer(
            pw_thread_loop_get_loop(thread_), [](void* data, uint64_t) { static_cast<TestSource*>(data)->tick(); },
            this);
        timespec every{0, 10'000'000};
        pw_loop_update_timer(pw_thread_loop_get_loop(thread_), timer_, &every, &every, false);
        pw_thread_loop_start(thread_);
        pw_thread_loop_unlock(thread_);
    }
    ~TestSource() {
        pw_thread_loop_stop(thread_);
        pw_loop_destroy_source(pw_thread_loop_get_loop(thread_), timer_);
        spa_hook_remove(&listener_);
        pw_stream_destroy(stream_);
        pw_core_disconnect(core_);
        pw_context_destroy(context_);
        pw_thread_loop_destroy(thread_);
    }
    uint32_t node() {
        pw_thread_loop_lock(thread_);
        const uint32_t id = pw_stream_get_node_id(stream_);
        pw_thread_loop_unlock(thread_);
        return id;
    }
    std::atomic<int> strideFactor{1};    // the chunk says its rows are this many times longer than they are
    std::atomic<uint32_t> agreedRate{0}; // the most pictures a second the consumer takes
    std::atomic<bool> sending{true};     // false: a still screen
    std::atomic<bool> stampAhead{false}; // each picture's time an hour from now
    std::atomic<uint32_t> colour;
    std::atomic<int> pictures{-1};            // pictures still to send before the screen stands still; -1: no end
    std::atomic<bool> onlyWithABuffer{false}; // a cycle only for a picture recorded into a free buffer
    // The times given to pictures, in nanoseconds of the monotonic clock.
    std::set<int64_t> stamps() {
        const std::lock_guard guard(lock_);
        return stamps_;
    }

private:
    void formatChanged(const spa_pod* param) {
        spa_video_info_raw info{};
        if (spa_format_video_raw_parse(param, &info) >= 0 && info.max_framerate.denom != 0)
            agreedRate = info.max_framerate.num / info.max_framerate.denom;
        uint8_t buffer[512];
        spa_pod_builder b{};
        spa_pod_builder_init(&b, buffer, sizeof buffer);
        spa_pod_frame f{};
        spa_pod_builder_push_object(&b, &f, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
        spa_pod_builder_prop(&b, SPA_PARAM_BUFFERS_buffers, 0);
        spa_pod_builder_int(&b, 4);
        spa_pod_builder_prop(&b, SPA_PARAM_BUFFERS_size, 0);
        spa_pod_builder_int(&b, W * H * 4);
        spa_pod_builder_prop(&b, SPA_PARAM_BUFFERS_stride, 0);
        spa_pod_builder_int(&b, W * 4);
        spa_pod_builder_prop(&b, SPA_PARAM_BUFFERS_dataType, 0);
        spa_pod_builder_int(&b, 1 << SPA_DATA_MemFd);
        const auto* buffers = static_cast<spa_pod*>(spa_pod_builder_pop(&b, &f));
        const spa_pod* params[] = {
            buffers, static_cast<spa_pod*>(spa_pod_builder_add_object(
                         &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
                         SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))))};
        pw_stream_update_params(stream_, params, 2);
    }
    void tick() {
        if (!onlyWithABuffer) return void(pw_stream_trigger_process(stream_));
        if ((!sending || pictures == 0) && !started) return;
        pw_buffer* b = pw_stream_dequeue_buffer(stream_);
        if (!b) return;
        record(b);
        pw_stream_trigger_process(stream_);
    }
    void send() {
        if (onlyWithABuffer || ((!sending || pictures == 0) && !started)) return;
        if (pw_buffer* b = pw_stream_dequeue_buffer(stream_)) record(b);
    }
    void record(pw_buffer* b) {
        started = false;
        spa_data& d = b->buffer->datas[0];
        if (d.data && d.maxsize >= static_cast<uint32_t>(W * H * 4)) {
            auto* px = static_cast<uint32_t*>(d.data);
            for (int i = 0; i < W * H; ++i)
                px[i] = colour;
            d.chunk->offset = 0;
            d.chunk->stride = W * 4 * strideFactor.load();
            d.chunk->size = static_cast<uint32_t>(W * H * 4);
        }
        if (auto* h = static_cast<spa_meta_header*>(
                spa_buffer_find_meta_data(b->buffer, SPA_META_Header, sizeof(spa_meta_header)))) {
            const auto now = std::chrono::steady_clock::now() + (stampAhead ? std::chrono::hours(1) : 0h);
            h->pts = std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count() - 1000;
            const std::lock_guard guard(lock_);
            stamps_.insert(h->pts);
        }
        pw_stream_queue_buffer(stream_, b);
        if (pictures > 0) --pictures;
    }

    std::atomic<bool> started{false}; // a stream has just started: the next turn sends
    std::mutex lock_;
    std::set<int64_t> stamps_;
    pw_thread_loop* thread_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    spa_hook listener_{};
    pw_stream_events events_{};
    spa_source* timer_ = nullptr;
};

struct Arrivals {
    std::mutex lock;
    std::vector<std::chrono::steady_clock::time_point> at;
    std::vector<int64_t> taken; // each picture's capture time, in nanoseconds
    uint32_t centre = 0;
    bool keepAll = false; // every picture is held, as an encoder far behind would
    std::vector<CapturedFrame> kept;
    // While stalled, a picture holds up the stream's thread until let go, as a busy machine would.
    std::mutex gateLock;
    std::condition_variable gate;
    bool stalled = false, stalling = false;
    void stall(bool on) {
        {
            const std::lock_guard guard(gateLock);
            stalling = on;
        }
        gate.notify_all();
    }
    bool holdingUp() {
        const std::lock_guard guard(gateLock);
        return stalled;
    }
    ScreenCapturer::FrameCallback callback() {
        return [this](const CapturedFrame& f) {
            {
                std::unique_lock g(gateLock);
                stalled = stalling;
                gate.wait(g, [&] { return !stalling; });
                stalled = false;
            }
            const uint8_t* p =
                f.planes[0] + static_cast<std::ptrdiff_t>(f.height / 2) * f.strides[0] + (f.width / 2) * 4;
            const std::lock_guard guard(lock);
            if (keepAll) kept.push_back(f);
            at.push_back(std::chrono::steady_clock::now());
            taken.push_back(
                std::chrono::duration_cast<std::chrono::nanoseconds>(f.capturedAt.time_since_epoch()).count());
            centre = (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
        };
    }
    std::size_t count() {
        const std::lock_guard guard(lock);
        return at.size();
    }
    // Whether the last picture's middle is `rgb`.
    bool shows(uint32_t rgb) {
        const std::lock_guard guard(lock);
        return centre == rgb;
    }
};

} // namespace

TEST(PipeWireStream, PicturesComeInTheSourcesColourAndTimeAtTheRateItIsAskedForAndItsLiesAreNotBelieved) {
    dovrel::test::GnomeSession gnome;
    if (!gnome.available()) GTEST_SKIP() << "no PipeWire daemon here: " << gnome.reason();
    dovrel::test::ScopedEnv env;
    dovrel::test::joinSession(env, gnome);
    auto owned = std::make_unique<TestSource>(0x00d0307c);
    TestSource& source = *owned;
    source.strideFactor = 4; // rows four times longer than the buffer can hold
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return source.node() != SPA_ID_INVALID; }));
    Arrivals arrivals;
    auto fps = std::make_shared<std::atomic<int>>(10);
    std::atomic<bool> stopped{false};
    PipeWireStream stream(
        source.node(), arrivals.callback(), [&](const std::string&) { stopped = true; }, fps);
    const PipeWireStream::Size size = stream.waitForFormat(10s);
    EXPECT_EQ(size.width, W);
    EXPECT_EQ(size.height, H);
    EXPECT_FALSE(stream.usesDmaBuf());

    // A hundred pictures a second whose rows run past their buffer: none is read. Each one the stream
    // takes in stamps the stream's time; once two have passed, the first was wholly dealt with.
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return Diag::stampOf(Diag::Stamp::lastStreamAt) > t0; }));
    const auto t1 = Diag::stampOf(Diag::Stamp::lastStreamAt);
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return Diag::stampOf(Diag::Stamp::lastStreamAt) > t1; }));
    EXPECT_EQ(arrivals.count(), 0u);

    source.strideFactor = 1;
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return arrivals.count() >= 8; }));
    {
        const std::lock_guard guard(arrivals.lock);
        EXPECT_EQ(arrivals.centre, 0xd0307cu);
        // At 10 pictures a second each one's slot is a tenth of a second after the last one's (one that
        // came late lets the next catch up on the grid), so n of them span n - 1 tenths at the least, less
        // the test's own lateness in noting the first.
        const std::size_t n = arrivals.at.size();
        EXPECT_GE(arrivals.at.back() - arrivals.at.front(), 100ms * static_cast<int>(n - 1) - 50ms) << n << " pictures";
        const std::set<int64_t> stamps = source.stamps();
        for (const int64_t t : arrivals.taken)
            EXPECT_EQ(stamps.count(t), 1u) << "a capture time the source never gave";
    }

    // A picture said to be taken in an hour is stamped when it came.
    source.stampAhead = true;
    const std::size_t honest = arrivals.count();
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return arrivals.count() >= honest + 3; }));
    {
        const std::lock_guard guard(arrivals.lock);
        const auto last = arrivals.at.back();
        EXPECT_LE(arrivals.taken.back(),
                  std::chrono::duration_cast<std::chrono::nanoseconds>(last.time_since_epoch()).count());
    }
    source.stampAhead = false;
    EXPECT_EQ(source.agreedRate.load(), 10u);

    // Nobody watches: the source is asked for a picture a second. The last picture of a still screen
    // outlives the new agreement, for a keyframe asked of it.
    source.sending = false;
    fps->store(1);
    stream.retime();
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return source.agreedRate.load() == 1u; }));
    const std::size_t before = arrivals.count();
    stream.requestFrame();
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return arrivals.count() > before; }));
    fps->store(240);
    stream.retime();
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return source.agreedRate.load() == 60u; }));

    // A refresh wave asks for pictures of the still screen: they come at the rate, not once a second.
    const std::size_t still = arrivals.count();
    stream.requestFrames(6);
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return arrivals.count() >= still + 6; }));
    {
        const std::lock_guard guard(arrivals.lock);
        EXPECT_LT(arrivals.at[still + 5] - arrivals.at[still], 1s) << "repeated by the heartbeat alone";
    }

    // Nobody watches, and the screen changes once more just before a session begins: the new picture,
    // still waiting for its slot when the session's rate is agreed, is what the stream shows from then on,
    // not the one before it (a still screen sends no other).
    fps->store(1);
    stream.retime();
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return source.agreedRate.load() == 1u; }));
    source.sending = true;
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return arrivals.shows(0xd0307cu); }));
    const std::size_t idle = arrivals.count();
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return arrivals.count() > idle; })); // a slot has just passed
    source.sending = false;
    source.pictures = 1;
    source.colour = 0x2890e0;
    source.sending = true;
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return source.pictures.load() == 0; }));
    fps->store(10);
    stream.retime();
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return source.agreedRate.load() == 10u; }));
    EXPECT_TRUE(dovrel::test::pollUntil([&] { return arrivals.shows(0x2890e0u); }, 10s))
        << "the screen's last change was never shown";

    // A consumer that holds every picture it was given (an encoder far behind) leaves the stream no copy to
    // make: the change waiting for its slot as a new rate's connection takes its buffer away still comes.
    const std::size_t kept = [&] {
        const std::lock_guard guard(arrivals.lock);
        arrivals.keepAll = true;
        return arrivals.at.size();
    }();
    source.pictures = -1;
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return arrivals.count() >= kept + 3; }));
    source.colour = 0xe0a020;
    const std::size_t sent = source.stamps().size();
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return source.stamps().size() > sent + 2; }));
    fps->store(20);
    stream.retime();
    EXPECT_TRUE(dovrel::test::pollUntil([&] { return arrivals.shows(0xe0a020u); }))
        << "the change was lost with its buffer";

    // The source goes (its session ended): the stream says so rather than wait to be linked to the next
    // source that happens to take the same node number.
    EXPECT_FALSE(stopped);
    owned.reset();
    EXPECT_TRUE(dovrel::test::pollUntil([&] { return stopped.load(); }));
}

// The stream's thread held up (a busy machine) while the source, recording only into a free buffer as GNOME's
// compositor does, would fill every one: the buffers still go back to it, and the screen's next change is shown.
TEST(PipeWireStream, AStreamHeldUpWhileTheSourceRecordsLeavesItBuffersToRecordInto) {
    dovrel::test::GnomeSession gnome;
    if (!gnome.available()) GTEST_SKIP() << "no PipeWire daemon here: " << gnome.reason();
    dovrel::test::ScopedEnv env;
    dovrel::test::joinSession(env, gnome);
    TestSource source(0x00d0307c);
    source.onlyWithABuffer = true;
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return source.node() != SPA_ID_INVALID; }));
    Arrivals arrivals;
    PipeWireStream stream(source.node(), arrivals.callback(), nullptr, std::make_shared<std::atomic<int>>(60));
    ASSERT_GT(stream.waitForFormat(10s).width, 0);
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return arrivals.count() > 0; }));

    // Held up while the source records a dozen pictures: three times as many as it has buffers.
    arrivals.stall(true);
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return arrivals.holdingUp(); }));
    const std::size_t sent = source.stamps().size();
    EXPECT_TRUE(dovrel::test::pollUntil([&] { return source.stamps().size() >= sent + 12; }, 10s))
        << "the buffers waited for the stream's thread";
    arrivals.stall(false);
    source.colour = 0x2890e0;
    EXPECT_TRUE(dovrel::test::pollUntil([&] { return arrivals.shows(0x2890e0u); }, 10s))
        << "the change after the hold-up was never shown";
}

// Streams taken down while pictures pour in (a hundred a second, each handed over on PipeWire's data thread):
// once a stream is gone, nothing of it runs any more, and it leaves the source as it found it.
TEST(PipeWireStream, AStreamTakenDownWhilePicturesPourInRunsNothingAfterwards) {
    dovrel::test::GnomeSession gnome;
    if (!gnome.available()) GTEST_SKIP() << "no PipeWire daemon here: " << gnome.reason();
    dovrel::test::ScopedEnv env;
    dovrel::test::joinSession(env, gnome);
    TestSource source(0x00d0307c);
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return source.node() != SPA_ID_INVALID; }));
    std::atomic<int> afterwards{0};
    for (int round = 0; round < 12; ++round) {
        auto gone = std::make_shared<std::atomic<bool>>(false);
        std::atomic<int> pictures{0};
        {
            PipeWireStream stream(
                source.node(),
                [&, gone](const CapturedFrame&) {
                    if (*gone) ++afterwards;
                    ++pictures;
                },
                [&, gone](const std::string&) {
                    if (*gone) ++afterwards;
                },
                std::make_shared<std::atomic<int>>(240));
            ASSERT_GT(stream.waitForFormat(10s).width, 0) << "round " << round;
            // Some rounds end at once, before the first picture, the others in the middle of the flow.
            if (round % 3 != 0) {
                ASSERT_TRUE(dovrel::test::pollUntil([&] { return pictures.load() >= round; }));
            }
        }
        *gone = true;
    }
    // The source still sends to a new stream, and nothing of the old ones ran after they went.
    Arrivals arrivals;
    PipeWireStream stream(source.node(), arrivals.callback(), nullptr, std::make_shared<std::atomic<int>>(60));
    ASSERT_GT(stream.waitForFormat(10s).width, 0);
    EXPECT_TRUE(dovrel::test::pollUntil([&] { return arrivals.count() >= 3; }));
    EXPECT_EQ(afterwards.load(), 0);
}
