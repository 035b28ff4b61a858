// Screen capture on a headless GNOME session of the test's own: the pictures GNOME records of a
// Wayland client's window reach the frame callback in the client's colour, a still screen still
// proves itself alive, each monitor is a stream of its own, and changes of the capture rate lose no
// change of the screen.
#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "GnomeTestSupport.h"
#include "agent/common/AgentError.h"
#include "agent/common/Diag.h"
#include "agent/media/AudioCapturer.h"
#include "agent/media/GnomeScreenCapturer.h"

using namespace dovrel::agent;
using namespace std::chrono_literals;
using dovrel::test::GnomeSession;

namespace {

// No sound server in these sessions: audio stays out of the way.
class NoAudio : public AudioCapturer {
public:
    void start(Callback) override { throw AgentError(AgentError::Kind::capture, "no audio here"); }
    void stop() override {}
    bool running() const override { return false; }
};

struct Frames {
    std::mutex lock;
    int count = 0;
    int width = 0, height = 0;
    uint32_t centre = 0; // 0xRRGGBB of the middle pixel of the last picture

    ScreenCapturer::FrameCallback callback() {
        return [this](const CapturedFrame& f) {
            const uint8_t* p =
                f.planes[0] + static_cast<std::ptrdiff_t>(f.height / 2) * f.strides[0] + (f.width / 2) * 4;
            const std::lock_guard guard(lock);
            ++count;
            width = f.width;
            height = f.height;
            centre = (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
        };
    }
    int seen() {
        const std::lock_guard guard(lock);
        return count;
    }
    uint32_t colour() {
        const std::lock_guard guard(lock);
        return centre;
    }
};

std::shared_ptr<MutterSession> sessionOn(const GnomeSession& gnome) {
    MutterSession::Options o;
    o.busAddress = QString::fromStdString(gnome.busAddress());
    return std::make_shared<MutterSession>(o);
}

GnomeScreenCapturer::Options withoutAudio() {
    GnomeScreenCapturer::Options options;
    options.audio = std::make_shared<NoAudio>();
    return options;
}

// This process joined to `gnome`, and the compositor's session once offered on its bus (null if never).
std::shared_ptr<MutterSession> joinedSession(dovrel::test::ScopedEnv& env, const GnomeSession& gnome) {
    dovrel::test::joinSession(env, gnome);
    auto session = sessionOn(gnome);
    return dovrel::test::pollUntil([&] { return session->offered(); }) ? session : nullptr;
}

} // namespace

TEST(GnomeCapture, PicturesOfAWaylandClientArriveInItsColourAndAStillScreenStaysAlive) {
    GnomeSession gnome;
    if (!gnome.available()) GTEST_SKIP() << "no headless GNOME session here: " << gnome.reason();
    dovrel::test::ScopedEnv env;
    dovrel::test::joinSession(env, gnome);
    dovrel::test::WaylandProbe probe(gnome, "d0307c");
    ASSERT_TRUE(probe.ready()) << probe.log() << gnome.mutterLog();

    auto session = sessionOn(gnome);
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return session->offered(); }));
    Frames frames;
    GnomeScreenCapturer capturer(frames.callback(), session, withoutAudio());
    std::atomic<bool> stopped{false};
    capturer.setOnStreamStopped([&](const std::string&) { stopped = true; });
    capturer.start(0);
    EXPECT_EQ(capturer.width(), 1280);
    EXPECT_EQ(capturer.height(), 720);
    EXPECT_EQ(capturer.name(0), "Main display");
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return frames.colour() == 0xd0307c; }))
        << std::hex << "the last picture's middle was #" << frames.colour();

    // Nothing changes on the screen: the last picture comes again, about once a second.
    const int before = frames.seen();
    EXPECT_TRUE(dovrel::test::pollUntil([&] { return frames.seen() >= before + 2; }, 10s));
    EXPECT_LT(std::chrono::steady_clock::now() - Diag::stampOf(Diag::Stamp::lastStreamAt), 3s);

    // A restart opens a fresh session and the pictures go on.
    capturer.restart();
    const int afterRestart = frames.seen();
    EXPECT_TRUE(dovrel::test::pollUntil([&] { return frames.seen() > afterRestart; }));
    EXPECT_FALSE(stopped);
}

TEST(GnomeCapture, EachMonitorIsAStreamOfItsOwn) {
    GnomeSession gnome(std::vector<dovrel::test::GnomeMonitor>{{1280, 720}, {800, 600}});
    if (!gnome.available()) GTEST_SKIP() << "no headless GNOME session here: " << gnome.reason();
    dovrel::test::ScopedEnv env;
    const auto session = joinedSession(env, gnome);
    ASSERT_TRUE(session);
    Frames frames;
    GnomeScreenCapturer capturer(frames.callback(), session, withoutAudio());
    capturer.start(5); // beyond the last: the last
    ASSERT_EQ(capturer.displays().size(), 2u);
    EXPECT_EQ(capturer.currentIndex(), 1);
    EXPECT_EQ(capturer.width(), 800);
    EXPECT_EQ(capturer.height(), 600);
    EXPECT_EQ(capturer.displays()[1].x, 1280);
    ASSERT_TRUE(dovrel::test::pollUntil([&] {
        const std::lock_guard guard(frames.lock);
        return frames.width == 800 && frames.height == 600;
    }));
    capturer.start(-1);
    EXPECT_EQ(capturer.currentIndex(), 0);
    ASSERT_TRUE(dovrel::test::pollUntil([&] {
        const std::lock_guard guard(frames.lock);
        return frames.width == 1280 && frames.height == 720;
    }));
}

TEST(GnomeCapture, ACapturerLeftBehindByARestartLeavesItsSuccessorsSessionAlone) {
    GnomeSession gnome;
    if (!gnome.available()) GTEST_SKIP() << "no headless GNOME session here: " << gnome.reason();
    dovrel::test::ScopedEnv env;
    const auto session = joinedSession(env, gnome);
    ASSERT_TRUE(session);
    const GnomeScreenCapturer::Options options = withoutAudio();
    Frames old, frames;
    std::atomic<bool> oldStopped{false};
    auto leftBehind = std::make_unique<GnomeScreenCapturer>(old.callback(), session, options);
    leftBehind->setOnStreamStopped([&](const std::string&) { oldStopped = true; });
    leftBehind->start(0);
    GnomeScreenCapturer successor(frames.callback(), session, options);
    std::atomic<bool> stopped{false};
    successor.setOnStreamStopped([&](const std::string&) { stopped = true; });
    successor.start(0);
    // The old session is over, and so is its stream: it does not join the successor's.
    EXPECT_TRUE(dovrel::test::pollUntil([&] { return oldStopped.load(); }));
    leftBehind.reset();
    EXPECT_TRUE(session->isOpen());
    const int before = frames.seen();
    EXPECT_TRUE(dovrel::test::pollUntil([&] { return frames.seen() >= before + 2; }, 10s));
    EXPECT_FALSE(stopped);
}

// The rate changes as sessions come and go, often while the screen is changing: here a window fades in
// as a session ends (or the agent starts, nobody watching yet), and the next session begins once the
// screen stands still. The compositor drops what it records while a stream renegotiates, and sends
// nothing more of a screen that then stands still; the session must still see the window as it is.
TEST(GnomeCapture, RateChangesWhileWindowsFadeInEndOnEachFinishedWindow) {
    GnomeSession gnome;
    if (!gnome.available()) GTEST_SKIP() << "no headless GNOME session here: " << gnome.reason();
    dovrel::test::ScopedEnv env;
    const auto session = joinedSession(env, gnome);
    ASSERT_TRUE(session);
    Frames frames;
    GnomeScreenCapturer capturer(frames.callback(), session, withoutAudio());
    capturer.start(0);
    ASSERT_TRUE(dovrel::test::pollUntil([&] { return frames.seen() > 0; }));

    // Each window fades in over about a quarter of a second; each time nobody watches from another point
    // of the fade on, from its first picture to its last steps.
    std::vector<std::unique_ptr<dovrel::test::WaylandProbe>> windows;
    const uint32_t colours[] = {0xd0307c, 0x2890e0, 0xe0b020, 0x30a050, 0x8040c0, 0xc06040};
    for (int i = 0; i < 6; ++i) {
        const uint32_t rgb = colours[i];
        capturer.setCaptureFPS(60); // a session watches, or the agent has just started
        const uint32_t before = frames.colour();
        const auto distance = [&](uint32_t c) {
            int d = 0;
            for (const int shift : {16, 8, 0})
                d += std::abs(int((c >> shift) & 0xff) - int((rgb >> shift) & 0xff));
            return d;
        };
        windows.push_back(
            std::make_unique<dovrel::test::WaylandProbe>(gnome, QString::asprintf("%06x", rgb).toStdString()));
        ASSERT_TRUE(windows.back()->ready()) << "window " << i << " never drew itself: " << windows.back()->log();
        const int drawn = frames.seen();
        ASSERT_TRUE(dovrel::test::pollUntil([&] {
            return frames.colour() != before && distance(frames.colour()) <= distance(before) * (6 - i) / 6;
        })) << "window "
            << i << ": " << frames.seen() - drawn << " pictures since it drew itself, the last #" << std::hex
            << frames.colour() << "\n"
            << gnome.mutterLog();
        capturer.setCaptureFPS(1); // nobody watches
        const int idle = frames.seen();
        ASSERT_TRUE(dovrel::test::pollUntil([&] { return frames.seen() > idle; })); // at the new rate
        capturer.setCaptureFPS(60); // a session begins, and asks for a keyframe
        capturer.requestFrame();
        EXPECT_TRUE(dovrel::test::pollUntil([&] { return frames.colour() == rgb; }, 10s))
            << std::hex << "the stream stood on #" << frames.colour() << " instead of #" << rgb;
        windows.erase(windows.begin(), windows.end() - 1);
    }
}
