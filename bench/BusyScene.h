#pragma once

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/prctl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include "BusyTexture.h"
#include "tests/support/XTestClient.h"

namespace dovrel::bench {

// A desktop that never keeps still, drawn into an X server at about 60 frames a second: a large
// textured picture (noise, stripes, gradients, small glyph-like blocks) panned diagonally across the
// whole screen, with a few solid windows sliding over it. All drawing is server-side copies, so the
// painter itself costs the measured process almost nothing. An overlay, when given, draws on top of
// each frame (frame number `t`) before the frame is flushed.
class BusyScene {
public:
    using Overlay = std::function<void(test::XTestClient& client, int t)>;

    BusyScene(const std::string& display, int width, int height, Overlay overlay = {})
        : client_(display), w_(width), h_(height), overlay_(std::move(overlay)) {
        if (!client_.ok()) return;
        xcb_connection_t* c = client_.connection();
        pixmap_ = xcb_generate_id(c);
        xcb_create_pixmap(c, 24, pixmap_, client_.root(), static_cast<uint16_t>(2 * w_), static_cast<uint16_t>(2 * h_));
        gc_ = xcb_generate_id(c);
        xcb_create_gc(c, gc_, pixmap_, 0, nullptr);
        std::mt19937 rng(42);
        const int rows = 32;
        std::vector<uint32_t> band(static_cast<std::size_t>(2 * w_) * rows);
        for (int y0 = 0; y0 < 2 * h_; y0 += rows) {
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < 2 * w_; ++x)
                    band[static_cast<std::size_t>(y) * static_cast<std::size_t>(2 * w_) + static_cast<std::size_t>(x)] =
                        busyTexturePixel(x, y0 + y, 2 * w_, 2 * h_, rng);
            xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap_, gc_, static_cast<uint16_t>(2 * w_), rows, 0,
                          static_cast<int16_t>(y0), 0, 24, static_cast<uint32_t>(band.size() * 4),
                          reinterpret_cast<const uint8_t*>(band.data()));
        }
        client_.sync();
        thread_ = std::thread([this] { run(); });
    }
    ~BusyScene() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool ok() const { return client_.ok(); }

private:
    void run() {
        xcb_connection_t* c = client_.connection();
        const xcb_gcontext_t screenGc = xcb_generate_id(c);
        xcb_create_gc(c, screenGc, client_.root(), 0, nullptr);
        auto next = std::chrono::steady_clock::now();
        for (int t = 0; !stop_; ++t) {
            const int ox = (t * 7) % w_, oy = (t * 4) % h_;
            xcb_copy_area(c, pixmap_, client_.root(), screenGc, static_cast<int16_t>(ox), static_cast<int16_t>(oy), 0,
                          0, static_cast<uint16_t>(w_), static_cast<uint16_t>(h_));
            for (int i = 0; i < 4; ++i) {
                const int x = (t * (5 + i * 3) + i * 300) % (w_ - 200), y = (t * (3 + i) + i * 150) % (h_ - 150);
                client_.fill(x, y, 200, 150, 0x3366CC + static_cast<uint32_t>(i) * 0x202020, false);
            }
            if (overlay_) overlay_(client_, t);
            client_.sync();
            next += std::chrono::microseconds(16667);
            std::this_thread::sleep_until(next);
        }
    }

    test::XTestClient client_;
    int w_, h_;
    Overlay overlay_;
    xcb_pixmap_t pixmap_ = 0;
    xcb_gcontext_t gc_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A painter process's whole life: the pointer out of the way in the bottom right corner, then the busy
// scene until the parent goes (which ends it).
[[noreturn]] inline void runBusyPainter(const std::string& display, int width, int height) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    {
        test::XTestClient pointer(display);
        pointer.movePointer(width - 10, height - 10);
    }
    BusyScene scene(display, width, height);
    for (;;)
        ::pause();
}

} // namespace dovrel::bench
