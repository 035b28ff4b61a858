#pragma once

// A private X screen with a window manager of the test's own — openbox, which draws no composited
// screen, or GNOME's mutter — and what the window tests read and do there through xcb: properties, a
// window's place and pixels, and the X server's test pointer. Programs are started only once the window
// manager runs (it names itself on the root window and offers to move windows): a program started before
// that reads what the window manager supports once, finds no moves, and its window then never hands a
// drag to the window manager.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xtest.h>

#include "../../support/ChildProcess.h"
#include "../../support/FileText.h"
#include "../../support/SessionBus.h"
#include "../../support/TempHome.h"
#include "../../support/XvfbServer.h"

namespace dovrel::test {

// Whether `done` was seen to hold within `limit`. What was seen counts: a state that comes and goes is
// not asked for a second time.
template <typename F> bool waitFor(F&& done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
template <typename T> std::unique_ptr<T, decltype(&std::free)> owned(T* r) { return {r, &std::free}; }

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const Box&) const = default;
};

class XDesk {
public:
    // `wm`: "openbox" or "mutter".
    XDesk(const std::string& wm, int width, int height) : xvfb_(width, height) {
        if (!xvfb_.running()) {
            unavailable_ = "no X server: " + xvfb_.failure();
            return;
        }
        if (findProgram(wm).empty()) {
            unavailable_ = wm + " is not installed";
            return;
        }
        std::filesystem::create_directory(home_.file("run"));
        std::filesystem::permissions(home_.file("run"), std::filesystem::perms::owner_all);
        env_ = {{"DISPLAY", xvfb_.display()},
                {"XDG_RUNTIME_DIR", home_.file("run")},
                {"HOME", home_.str()},
                {"WAYLAND_DISPLAY", ""},
                {"QT_QPA_PLATFORM", "xcb"},
                {"QT_QUICK_BACKEND", "software"},
                // Drawn without GL, the program never loads Mesa, whose driver, unloaded as the display
                // closes, leaves LeakSanitizer a block it can no longer name.
                {"QT_XCB_GL_INTEGRATION", "none"},
                {"DBUS_SESSION_BUS_ADDRESS", "disabled:"}};
        c_ = xcb_connect(xvfb_.display().c_str(), nullptr);
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        ChildProcess::Options o;
        o.env = env_;
        o.logFile = home_.file("wm.out");
        if (wm == "mutter") {
            if (!bus_.emplace().available()) {
                unavailable_ = bus_->reason();
                return;
            }
            o.env["DBUS_SESSION_BUS_ADDRESS"] = bus_->address();
            wm_.start({findProgram("mutter"), "--x11", "--replace", "--sm-disable"}, o);
        } else {
            wm_.start({findProgram(wm), "--sm-disable"}, o);
        }
        if (!waitFor([&] { return managing(); }, std::chrono::seconds(60)))
            unavailable_ = wm + " did not come up: " + readFile(home_.file("wm.out"));
    }
    ~XDesk() {
        if (c_) xcb_disconnect(c_);
    }
    XDesk(const XDesk&) = delete;
    XDesk& operator=(const XDesk&) = delete;

    // Why the desk cannot be had here; empty when it runs.
    const std::string& unavailable() const { return unavailable_; }
    // What a program on this screen needs in its environment; no session bus.
    const std::map<std::string, std::string>& env() const { return env_; }
    std::string file(const std::string& name) const { return home_.file(name); }
    xcb_connection_t* connection() const { return c_; }
    xcb_window_t root() const { return root_; }

    xcb_atom_t atom(const char* name) {
        auto a = owned(xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, uint16_t(std::strlen(name)), name), nullptr));
        return a ? a->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    std::vector<uint32_t> property(xcb_window_t w, const char* name, xcb_atom_t type) {
        auto r = owned(xcb_get_property_reply(c_, xcb_get_property(c_, 0, w, atom(name), type, 0, 1024), nullptr));
        const auto* v = r && r->format == 32 ? static_cast<const uint32_t*>(xcb_get_property_value(r.get())) : nullptr;
        return v ? std::vector<uint32_t>(v, v + xcb_get_property_value_length(r.get()) / 4) : std::vector<uint32_t>{};
    }
    // The top-level window of process `pid`, once the window manager shows it (its WM_STATE says
    // normal) and has given it the focus; 0 until then. A press on a window without the focus goes to
    // the window manager first, to focus it, and may not reach the window whole.
    xcb_window_t shownWindowOf(int pid) {
        for (const uint32_t w : property(root_, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW)) {
            if (property(w, "_NET_WM_PID", XCB_ATOM_CARDINAL) != std::vector{uint32_t(pid)}) continue;
            const auto state = property(w, "WM_STATE", XCB_ATOM_ANY);
            const bool focused = property(root_, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW) == std::vector{w};
            return !state.empty() && state[0] == 1 && focused ? w : 0;
        }
        return 0;
    }
    Box box(xcb_window_t w) {
        auto g = owned(xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr));
        auto t = owned(xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, w, root_, 0, 0), nullptr));
        return g && t ? Box{t->dst_x, t->dst_y, g->width, g->height} : Box{};
    }
    // The red, green and blue, summed, that window `w` drew at (x, y) on the screen, read from the window
    // itself (a compositing window manager can show an older picture of it for a while).
    int brightness(xcb_window_t w, int x, int y) {
        const Box b = box(w);
        auto r = owned(xcb_get_image_reply(
            c_, xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, w, int16_t(x - b.x), int16_t(y - b.y), 1, 1, ~0u),
            nullptr));
        const uint8_t* p = r ? xcb_get_image_data(r.get()) : nullptr;
        return p ? p[0] + p[1] + p[2] : 0;
    }

    // The test pointer: a motion to (x, y) on the screen, or a press or release of `button` (1 left, 4
    // and 5 the wheel). Returns once the X server has done it.
    void fake(uint8_t type, int x = 0, int y = 0, uint8_t button = 1) {
        xcb_test_fake_input(c_, type, type == XCB_MOTION_NOTIFY ? uint8_t(0) : button, XCB_CURRENT_TIME, root_,
                            int16_t(x), int16_t(y), 0);
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }
    // A window manager holds the pointer for a move or a resize: its own cursor shows ("fleur",
    // "right_side"…), which both openbox and mutter name so.
    bool windowManagerHolds() {
        if (!xfixes_) {
            std::free(xcb_xfixes_query_version_reply(c_, xcb_xfixes_query_version(c_, 4, 0), nullptr));
            xfixes_ = true;
        }
        auto r =
            owned(xcb_xfixes_get_cursor_image_and_name_reply(c_, xcb_xfixes_get_cursor_image_and_name(c_), nullptr));
        if (!r) return false;
        const std::string name(xcb_xfixes_get_cursor_image_and_name_name(r.get()), r->nbytes);
        return name == "fleur" || name.ends_with("_side") || name.ends_with("_corner");
    }
    // A press and its release back to back, as a touchpad's tap: about a millisecond apart, or less.
    void tap(int x, int y, uint8_t button = 1, int times = 1) {
        fake(XCB_MOTION_NOTIFY, x, y);
        for (int i = 0; i < times; ++i) {
            xcb_test_fake_input(c_, XCB_BUTTON_PRESS, button, XCB_CURRENT_TIME, root_, 0, 0, 0);
            xcb_test_fake_input(c_, XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, root_, 0, 0, 0);
        }
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }

private:
    // The window manager names itself on the root window (a check window that names itself too) and
    // offers to move and resize windows for them.
    bool managing() {
        const auto check = property(root_, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW);
        if (check.size() != 1 || property(check[0], "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW) != check) return false;
        for (const uint32_t a : property(root_, "_NET_SUPPORTED", XCB_ATOM_ATOM))
            if (a == atom("_NET_WM_MOVERESIZE")) return true;
        return false;
    }

    XvfbServer xvfb_;
    TempDir home_;
    std::optional<SessionBus> bus_;
    ChildProcess wm_;
    std::map<std::string, std::string> env_;
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
    bool xfixes_ = false;
    std::string unavailable_;
};

} // namespace dovrel::test
