#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <sys/uio.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

namespace dovrel::test {

// A second X client that plays the user's desktop in tests and benchmarks: fills rectangles with
// known colours on the root window, puts a cursor of known colour and moves the pointer, defines RandR
// monitors. Every call waits until the server has done it.
class XTestClient {
public:
    explicit XTestClient(const std::string& display) {
        int screen = 0;
        c_ = xcb_connect(display.c_str(), &screen);
        if (xcb_connection_has_error(c_)) return;
        auto it = xcb_setup_roots_iterator(xcb_get_setup(c_));
        for (int i = 0; i < screen && it.rem; ++i)
            xcb_screen_next(&it);
        screen_ = it.data;
        gc_ = xcb_generate_id(c_);
        xcb_create_gc(c_, gc_, root(), 0, nullptr);
        ok_ = true;
    }
    ~XTestClient() {
        if (c_) xcb_disconnect(c_);
    }
    XTestClient(const XTestClient&) = delete;
    XTestClient& operator=(const XTestClient&) = delete;

    bool ok() const { return ok_; }
    xcb_connection_t* connection() const { return c_; }
    xcb_window_t root() const { return screen_->root; }
    int width() const { return screen_->width_in_pixels; }
    int height() const { return screen_->height_in_pixels; }

    // rgb as 0xRRGGBB (the 24-bit TrueColor pixel value).
    void fill(int x, int y, int w, int h, uint32_t rgb, bool wait = true) {
        xcb_change_gc(c_, gc_, XCB_GC_FOREGROUND, &rgb);
        const xcb_rectangle_t r{static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<uint16_t>(w),
                                static_cast<uint16_t>(h)};
        xcb_poly_fill_rectangle(c_, root(), gc_, 1, &r);
        if (wait) sync();
    }

    // A square cursor of `size` pixels in one colour (0xRRGGBB), hot spot at its top-left corner.
    void setSolidCursor(int size, uint32_t rgb) {
        const xcb_pixmap_t bits = xcb_generate_id(c_);
        xcb_create_pixmap(c_, 1, bits, root(), static_cast<uint16_t>(size), static_cast<uint16_t>(size));
        const xcb_gcontext_t g = xcb_generate_id(c_);
        const uint32_t one = 1;
        xcb_create_gc(c_, g, bits, XCB_GC_FOREGROUND, &one);
        const xcb_rectangle_t all{0, 0, static_cast<uint16_t>(size), static_cast<uint16_t>(size)};
        xcb_poly_fill_rectangle(c_, bits, g, 1, &all);
        const xcb_cursor_t cursor = xcb_generate_id(c_);
        const auto c16 = [](uint32_t v) { return static_cast<uint16_t>(v * 257); };
        xcb_create_cursor(c_, cursor, bits, bits, c16((rgb >> 16) & 0xFF), c16((rgb >> 8) & 0xFF), c16(rgb & 0xFF), 0,
                          0, 0, 0, 0);
        xcb_change_window_attributes(c_, root(), XCB_CW_CURSOR, &cursor);
        xcb_free_cursor(c_, cursor);
        xcb_free_gc(c_, g);
        xcb_free_pixmap(c_, bits);
        sync();
    }

    void movePointer(int x, int y) {
        xcb_warp_pointer(c_, XCB_NONE, root(), 0, 0, 0, 0, static_cast<int16_t>(x), static_cast<int16_t>(y));
        sync();
    }

    // Replaces the monitors with these rectangles (names "TEST-0", "TEST-1", …). The first takes over
    // the screen's output (so the server's own monitor for it goes) and is primary.
    bool setMonitors(const std::vector<xcb_rectangle_t>& rects) {
        std::unique_ptr<xcb_randr_get_monitors_reply_t, decltype(&std::free)> old(
            xcb_randr_get_monitors_reply(c_, xcb_randr_get_monitors(c_, root(), 0), nullptr), &std::free);
        if (old)
            for (auto it = xcb_randr_get_monitors_monitors_iterator(old.get()); it.rem;
                 xcb_randr_monitor_info_next(&it))
                if (!it.data->automatic) xcb_randr_delete_monitor(c_, root(), it.data->name);
        std::vector<xcb_randr_output_t> outputs;
        std::unique_ptr<xcb_randr_get_screen_resources_current_reply_t, decltype(&std::free)> res(
            xcb_randr_get_screen_resources_current_reply(c_, xcb_randr_get_screen_resources_current(c_, root()),
                                                         nullptr),
            &std::free);
        if (res) {
            const xcb_randr_output_t* o = xcb_randr_get_screen_resources_current_outputs(res.get());
            outputs.assign(o, o + xcb_randr_get_screen_resources_current_outputs_length(res.get()));
        }
        for (std::size_t i = 0; i < rects.size(); ++i) {
            const std::string name = "TEST-" + std::to_string(i);
            std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
                xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(name.size()), name.c_str()),
                                      nullptr),
                &std::free);
            if (!atom) return false;
            xcb_randr_monitor_info_t info{};
            info.name = atom->atom;
            info.primary = i == 0;
            info.automatic = 0;
            info.x = rects[i].x;
            info.y = rects[i].y;
            info.width = rects[i].width;
            info.height = rects[i].height;
            info.width_in_millimeters = rects[i].width / 4u;
            info.height_in_millimeters = rects[i].height / 4u;
            if (!setMonitor(info, i == 0 ? outputs : std::vector<xcb_randr_output_t>{})) return false;
        }
        sync();
        return true;
    }

    // RRSetMonitor built by hand: libxcb 1.15's generated sender trips its own assertion on it.
    bool setMonitor(xcb_randr_monitor_info_t info, const std::vector<xcb_randr_output_t>& outputs) {
        xcb_randr_set_monitor_request_t fixed{};
        fixed.window = root();
        info.nOutput = static_cast<uint16_t>(outputs.size());
        struct iovec parts[8] = {};
        parts[2].iov_base = &fixed;
        parts[2].iov_len = sizeof fixed;
        parts[4].iov_base = &info;
        parts[4].iov_len = sizeof info;
        parts[6].iov_base = const_cast<xcb_randr_output_t*>(outputs.data());
        parts[6].iov_len = outputs.size() * sizeof(xcb_randr_output_t);
        xcb_protocol_request_t req{6, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
        const xcb_void_cookie_t cookie{xcb_send_request(c_, XCB_REQUEST_CHECKED, parts + 2, &req)};
        std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> err(xcb_request_check(c_, cookie), &std::free);
        return !err;
    }

    void sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

private:
    xcb_connection_t* c_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    xcb_gcontext_t gc_ = 0;
    bool ok_ = false;
};

} // namespace dovrel::test
