// Input on loopback, from an event in the controller's capture item to the agent's injection: the real
// client and the real DovrelAgent on a private Xvfb (1280 x 720, streaming its screen meanwhile), an X
// client on the agent's display that notes when each injected pointer move, button press and key
// press reaches it. Both ends read the machine's monotonic clock. Prints figures; asserts nothing.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/socket.h>

#include <xcb/xcb.h>

#include "tests/controller/input/AgentSession.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace dovrel::controller::test;
using namespace std::chrono_literals;

namespace {

int64_t monoNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

// A window over the whole screen, on top and with the keyboard focus, that stamps each pointer move,
// button press and key press as it arrives.
class Watcher {
public:
    struct Seen {
        uint8_t type;
        int x, y;
        int64_t atNs;
    };

    explicit Watcher(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        const xcb_window_t w = xcb_generate_id(c_);
        const uint32_t values[] = {1, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_BUTTON_PRESS |
                                          XCB_EVENT_MASK_POINTER_MOTION};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, screen->width_in_pixels,
                          screen->height_in_pixels, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(c_, w);
        xcb_set_input_focus(c_, XCB_INPUT_FOCUS_POINTER_ROOT, w, XCB_CURRENT_TIME);
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
        reader_ = std::thread([this] { read(); });
    }
    ~Watcher() {
        xcb_shutdown_for_connection(c_);
        reader_.join();
    }

    // The first event of `type` after `fromNs`, at (x, y) when given.
    std::optional<int64_t> find(uint8_t type, int64_t fromNs, std::optional<std::pair<int, int>> at) {
        const std::lock_guard g(lock_);
        for (const Seen& s : seen_)
            if (s.type == type && s.atNs >= fromNs && (!at || (s.x == at->first && s.y == at->second))) return s.atNs;
        return std::nullopt;
    }

private:
    static void xcb_shutdown_for_connection(xcb_connection_t* c) { ::shutdown(xcb_get_file_descriptor(c), SHUT_RDWR); }

    void read() {
        while (xcb_generic_event_t* e = xcb_wait_for_event(c_)) {
            const int64_t now = monoNs();
            const uint8_t type = e->response_type & 0x7F;
            Seen s{type, 0, 0, now};
            if (type == XCB_MOTION_NOTIFY || type == XCB_BUTTON_PRESS || type == XCB_KEY_PRESS) {
                const auto* m = reinterpret_cast<xcb_motion_notify_event_t*>(e); // same layout for the three
                s.x = m->root_x;
                s.y = m->root_y;
                const std::lock_guard g(lock_);
                seen_.push_back(s);
            }
            std::free(e);
        }
    }

    xcb_connection_t* c_;
    std::thread reader_;
    std::mutex lock_;
    std::vector<Seen> seen_;
};

struct Series {
    std::vector<double> v;
    double pct(double p) {
        if (v.empty()) return 0;
        std::sort(v.begin(), v.end());
        return v[std::min(v.size() - 1, static_cast<std::size_t>(p / 100 * static_cast<double>(v.size())))];
    }
    void print(const char* name, int missed) {
        double sum = 0;
        for (double x : v)
            sum += x;
        std::printf("  %-34s p50 %6.3f ms   p95 %6.3f ms   mean %6.3f ms   (n=%zu, not seen %d)\n", name, pct(50),
                    pct(95), v.empty() ? 0 : sum / static_cast<double>(v.size()), v.size(), missed);
    }
};

// Runs the main thread's events until `found` gives a time or 2 s pass.
std::optional<int64_t> await(const std::function<std::optional<int64_t>()>& found) {
    const int64_t until = monoNs() + 2'000'000'000;
    while (monoNs() < until) {
        if (auto t = found()) return t;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return std::nullopt;
}

} // namespace

int main() {
    AgentSession s;
    bool skip = false;
    const std::string failure = s.start(skip);
    if (!failure.empty()) {
        std::printf("input latency: not measured — %s\n", failure.c_str());
        return 0;
    }
    Watcher watcher(s.x->display());
    pump(500ms);

    constexpr int samples = 300;
    Series moves, presses, keys;
    int missedMoves = 0, missedPresses = 0, missedKeys = 0;
    for (int i = 0; i < samples; ++i) {
        // Far enough apart that no move waits for the next frame interval.
        pump(40ms);
        const QPointF at(20 + (i * 7) % 600, 20 + (i * 11) % 320);
        const std::pair<int, int> remote{static_cast<int>(at.x() * 2), static_cast<int>(at.y() * 2)};
        const int64_t t0 = monoNs();
        s.mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
        if (auto t1 = await([&] { return watcher.find(XCB_MOTION_NOTIFY, t0, remote); }))
            moves.v.push_back(static_cast<double>(*t1 - t0) / 1e6);
        else
            ++missedMoves;

        if (i % 3 == 0) {
            pump(40ms);
            const int64_t p0 = monoNs();
            s.mouse(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
            if (auto t1 = await([&] { return watcher.find(XCB_BUTTON_PRESS, p0, std::nullopt); }))
                presses.v.push_back(static_cast<double>(*t1 - p0) / 1e6);
            else
                ++missedPresses;
            s.mouse(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
        }
        if (i % 3 == 1) {
            const int64_t k0 = monoNs();
            s.key(QEvent::KeyPress, Qt::Key_A, 38, "a");
            if (auto t1 = await([&] { return watcher.find(XCB_KEY_PRESS, k0, std::nullopt); }))
                keys.v.push_back(static_cast<double>(*t1 - k0) / 1e6);
            else
                ++missedKeys;
            s.key(QEvent::KeyRelease, Qt::Key_A, 38, "a");
        }
    }
    std::printf("input latency, capture item event -> XTest injection seen on the agent's display (loopback, "
                "UDP 47812 path, agent streaming 1280x720 meanwhile):\n");
    moves.print("pointer move", missedMoves);
    presses.print("left button press", missedPresses);
    keys.print("key typed as text", missedKeys);
    return 0;
}
