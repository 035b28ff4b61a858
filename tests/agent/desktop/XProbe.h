#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace dovrel::test {

// A plain X client that watches what the injector does: a window over the whole screen with the
// keyboard focus that records key and button events, plus the pointer and keyboard state of the
// display. Like any X application it reads keysyms through its own copy of the keyboard map, fetched
// again as soon as the map changes; its events are read on a thread of their own as they arrive, so
// that a keycode remapped later does not change what an earlier press typed.
class XProbe {
public:
    struct Key {
        bool press = false;
        xcb_keycode_t keycode = 0;
        uint16_t state = 0; // modifier mask before the event
        uint32_t keysym = 0;
    };
    struct Button {
        bool press = false;
        uint8_t number = 0;
        uint16_t state = 0; // modifier and button mask before the event
    };
    struct Pointer {
        int x = 0;
        int y = 0;
        uint16_t mask = 0;
    };

    // With `holdFocus` it takes the focus back from any window that takes it, as the window a person is
    // typing into keeps it: a program under test that shows a window of its own (on a display without a
    // window manager, it takes the focus as it opens) then cannot steal its keys. Two probes on one
    // display must not both hold it.
    explicit XProbe(const std::string& display, bool holdFocus = false)
        : events_(xcb_connect(display.c_str(), nullptr)), queries_(xcb_connect(display.c_str(), nullptr)),
          holdFocus_(holdFocus) {
        if (xcb_connection_has_error(events_) || xcb_connection_has_error(queries_)) return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(events_)).data;
        root_ = screen->root;
        window_ = xcb_generate_id(events_);
        const uint32_t values[] = {1, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                                          XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                                          (holdFocus ? uint32_t{XCB_EVENT_MASK_FOCUS_CHANGE} : 0u)};
        xcb_create_window(events_, XCB_COPY_FROM_PARENT, window_, root_, 0, 0, screen->width_in_pixels,
                          screen->height_in_pixels, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(events_, window_);
        roundTrip(events_);
        xcb_set_input_focus(events_, XCB_INPUT_FOCUS_POINTER_ROOT, window_, XCB_CURRENT_TIME);
        roundTrip(events_);
        symbols_ = xcb_key_symbols_alloc(events_);
        xcb_key_symbols_get_keysym(symbols_, 8, 0); // fetch the map now
        reader_ = std::thread([this] { read(); });
        ok_ = true;
    }
    ~XProbe() {
        if (reader_.joinable()) {
            mark(kQuit);
            reader_.join();
        }
        if (symbols_) xcb_key_symbols_free(symbols_);
        xcb_disconnect(events_);
        xcb_disconnect(queries_);
    }
    XProbe(const XProbe&) = delete;
    XProbe& operator=(const XProbe&) = delete;

    bool ok() const { return ok_; }

    Pointer pointer() {
        std::unique_ptr<xcb_query_pointer_reply_t, decltype(&std::free)> r(
            xcb_query_pointer_reply(queries_, xcb_query_pointer(queries_, root_), nullptr), &std::free);
        return r ? Pointer{r->root_x, r->root_y, r->mask} : Pointer{-1, -1, 0};
    }

    // Keycodes down on the display right now.
    std::vector<xcb_keycode_t> keysDown() {
        std::unique_ptr<xcb_query_keymap_reply_t, decltype(&std::free)> r(
            xcb_query_keymap_reply(queries_, xcb_query_keymap(queries_), nullptr), &std::free);
        std::vector<xcb_keycode_t> down;
        if (!r) return down;
        for (int i = 0; i < 256; ++i)
            if (r->keys[i / 8] & (1 << (i % 8))) down.push_back(static_cast<xcb_keycode_t>(i));
        return down;
    }

    // The first keycode whose unshifted keysym is `keysym` in the display's map right now; 0 if none.
    xcb_keycode_t keycodeOf(uint32_t keysym) {
        xcb_key_symbols_t* now = xcb_key_symbols_alloc(queries_);
        const xcb_setup_t* setup = xcb_get_setup(queries_);
        xcb_keycode_t found = 0;
        for (int kc = setup->min_keycode; kc <= setup->max_keycode && !found; ++kc)
            if (xcb_key_symbols_get_keysym(now, static_cast<xcb_keycode_t>(kc), 0) == keysym)
                found = static_cast<xcb_keycode_t>(kc);
        xcb_key_symbols_free(now);
        return found;
    }

    // Events up to now (call after the injector's waitIdle), taken out of the record.
    std::vector<Key> takeKeys() {
        sync();
        const std::lock_guard lock(mutex_);
        return std::exchange(keys_, {});
    }
    std::vector<Button> takeButtons() {
        sync();
        const std::lock_guard lock(mutex_);
        return std::exchange(buttons_, {});
    }

    // The characters the key presses typed, as an application would insert them.
    std::u32string typed() {
        std::u32string out;
        for (const Key& k : takeKeys()) {
            if (!k.press) continue;
            if (k.keysym == 0xff0d)
                out += U'\n';
            else if (k.keysym == 0xff09)
                out += U'\t';
            else if (k.keysym >= 0x20 && k.keysym <= 0xff)
                out += static_cast<char32_t>(k.keysym);
            else if ((k.keysym & 0xff000000) == 0x01000000)
                out += static_cast<char32_t>(k.keysym & 0x00ffffff);
        }
        return out;
    }

private:
    static constexpr uint32_t kQuit = 0xFFFFFFFF;

    static void roundTrip(xcb_connection_t* c) {
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }

    // A message to the probe's own window: it arrives after every event the display made before it.
    void mark(uint32_t n) {
        xcb_client_message_event_t m{};
        m.response_type = XCB_CLIENT_MESSAGE;
        m.format = 32;
        m.window = window_;
        m.type = XCB_ATOM_INTEGER;
        m.data.data32[0] = n;
        xcb_send_event(queries_, 0, window_, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&m));
        xcb_flush(queries_);
    }

    void sync() {
        uint32_t n;
        {
            const std::lock_guard lock(mutex_);
            n = ++sent_;
        }
        mark(n);
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, std::chrono::seconds(10), [&] { return seen_ >= n; });
    }

    void read() {
        while (xcb_generic_event_t* e = xcb_wait_for_event(events_)) {
            const uint8_t type = e->response_type & 0x7F;
            bool quit = false;
            if (type == XCB_FOCUS_OUT && holdFocus_) {
                xcb_set_input_focus(events_, XCB_INPUT_FOCUS_POINTER_ROOT, window_, XCB_CURRENT_TIME);
                xcb_flush(events_);
            } else if (type == XCB_MAPPING_NOTIFY) {
                xcb_refresh_keyboard_mapping(symbols_, reinterpret_cast<xcb_mapping_notify_event_t*>(e));
                xcb_key_symbols_get_keysym(symbols_, 8, 0); // fetch the new map before the next press
            } else if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
                const auto* k = reinterpret_cast<xcb_key_press_event_t*>(e);
                const int column = (k->state & XCB_MOD_MASK_SHIFT) ? 1 : 0;
                const uint32_t ks = xcb_key_symbols_get_keysym(symbols_, k->detail, column);
                const std::lock_guard lock(mutex_);
                keys_.push_back({type == XCB_KEY_PRESS, k->detail, k->state, ks});
            } else if (type == XCB_BUTTON_PRESS || type == XCB_BUTTON_RELEASE) {
                const auto* b = reinterpret_cast<xcb_button_press_event_t*>(e);
                const std::lock_guard lock(mutex_);
                buttons_.push_back({type == XCB_BUTTON_PRESS, b->detail, b->state});
            } else if (type == XCB_CLIENT_MESSAGE) {
                const uint32_t n = reinterpret_cast<xcb_client_message_event_t*>(e)->data.data32[0];
                quit = n == kQuit;
                const std::lock_guard lock(mutex_);
                if (!quit) seen_ = n;
                cv_.notify_all();
            }
            std::free(e);
            if (quit) return;
        }
    }

    xcb_connection_t* events_;
    xcb_connection_t* queries_;
    bool holdFocus_ = false;
    xcb_window_t root_ = 0;
    xcb_window_t window_ = 0;
    xcb_key_symbols_t* symbols_ = nullptr;
    bool ok_ = false;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable cv_;
    uint32_t sent_ = 0;
    uint32_t seen_ = 0;
    std::vector<Key> keys_;
    std::vector<Button> buttons_;
};

} // namespace dovrel::test
