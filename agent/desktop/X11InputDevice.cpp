#include "agent/desktop/X11InputDevice.h"

#include <cstdlib>
#include <map>
#include <vector>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include "agent/desktop/HidKeysyms.h"
#include "agent/desktop/X11Keyboard.h"
#include "protocol/InputMessages.h"

namespace dovrel::agent {

namespace {

struct Disconnect {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

// X button numbers.
constexpr uint8_t kButtonLeft = 1, kButtonMiddle = 2, kButtonRight = 3;
constexpr uint8_t kWheelUp = 4, kWheelDown = 5, kWheelLeft = 6, kWheelRight = 7;

class X11InputDevice final : public InputDevice {
public:
    explicit X11InputDevice(const std::string& display) {
        int screenNumber = 0;
        connection_.reset(xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber));
        if (xcb_connection_has_error(connection_.get())) {
            unavailable_ = "cannot reach the X display";
            return;
        }
        const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(c(), &xcb_test_id);
        if (!xtest || !xtest->present) {
            unavailable_ = "the X display has no XTEST extension";
            return;
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c()));
        for (int i = 0; i < screenNumber && it.rem; ++i)
            xcb_screen_next(&it);
        if (!it.rem) {
            unavailable_ = "the X display has no such screen";
            return;
        }
        root_ = it.data->root;
        screen_ = StreamedArea{0, 0, it.data->width_in_pixels, it.data->height_in_pixels, 0, 0};
        keyboard_ = std::make_unique<X11Keyboard>(c());
    }

    std::string unavailableReason() const override { return unavailable_; }
    StreamedArea wholeScreen() const override { return screen_; }

    void moveTo(ScreenPoint p) override {
        xcb_test_fake_input(c(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root_, static_cast<int16_t>(p.x),
                            static_cast<int16_t>(p.y), 0);
    }

    void button(Button which, bool down) override {
        const uint8_t number = which == Button::right    ? kButtonRight
                               : which == Button::middle ? kButtonMiddle
                                                         : kButtonLeft;
        fakeButton(number, down);
    }

    void wheel(int vertical, int horizontal) override {
        const auto clicks = [&](int count, uint8_t positive, uint8_t negative) {
            const uint8_t number = count > 0 ? positive : negative;
            for (int i = 0; i < std::abs(count); ++i) {
                fakeButton(number, true);
                fakeButton(number, false);
            }
        };
        clicks(vertical, kWheelUp, kWheelDown);
        clicks(horizontal, kWheelLeft, kWheelRight);
    }

    bool knows(uint16_t usageId) const override { return hidKeyForUsage(usageId).has_value(); }

    bool key(uint16_t usageId, bool down) override {
        drainEvents();
        const auto held = pressed_.find(usageId);
        if (!down) {
            if (held == pressed_.end()) return true;
            fakeKey(held->second, false);
            keyboard_->hold(held->second, false);
            pressed_.erase(held);
            return true;
        }
        if (held != pressed_.end()) {
            fakeKey(held->second, true); // a repeat, on the keycode that went down first
            return true;
        }
        const auto hid = hidKeyForUsage(usageId);
        if (!hid) return false;
        const auto keycode = wex::KeyEvent::isModifierUsage(usageId)
                                 ? modifierKeycode(hid->keysym, hid->fallbackKeysym)
                                 : unshiftedKeycode(hid->keysym, hid->fallbackKeysym);
        if (!keycode) return false;
        fakeKey(*keycode, true);
        keyboard_->hold(*keycode, true);
        pressed_[usageId] = *keycode;
        return true;
    }

    void type(const std::u32string& text, const std::function<bool()>& stop) override {
        drainEvents();
        std::vector<uint32_t> keysyms;
        for (const char32_t ch : text)
            if (const auto ks = keysymForCharacter(ch)) keysyms.push_back(*ks);
        if (keysyms.empty()) return;

        // The Shift keys the controller holds stay held, but for characters that must not be shifted.
        const std::vector<xcb_keycode_t> heldShift = heldShiftKeys(pressed_);
        const auto shiftKey =
            heldShift.empty() ? modifierKeycode(keysym::shiftL, keysym::shiftR) : std::optional(heldShift.front());
        const bool caps = capsLockOn();
        for (std::size_t i = 0; i < keysyms.size(); ++i) {
            if (stop()) break;
            const uint32_t ks = keysyms[i];
            auto stroke = keyboard_->find(ks);
            if (!stroke) {
                // This character and the next ones the map lacks get spare keycodes in one go.
                keyboard_->prepare(std::span(keysyms).subspan(i));
                stroke = keyboard_->find(ks);
            }
            if (stroke && stroke->shift && !shiftKey) {
                const auto unshifted = keyboard_->mapUnshifted(ks);
                stroke = unshifted ? std::optional(X11Keyboard::Stroke{*unshifted, false}) : std::nullopt;
            }
            if (!stroke) continue;
            bool shift = stroke->shift;
            // Caps Lock turns the case of letters on the map; Shift turns it back.
            const bool letter = (ks >= 'a' && ks <= 'z') || (ks >= 'A' && ks <= 'Z');
            if (caps && letter && !keyboard_->isSpare(stroke->keycode)) shift = !shift && shiftKey;
            const bool change = shift == heldShift.empty();
            if (change) shiftAround(shift, heldShift, *shiftKey, true);
            fakeKey(stroke->keycode, true);
            fakeKey(stroke->keycode, false);
            if (change) shiftAround(shift, heldShift, *shiftKey, false);
        }
    }

    void flush() override { xcb_flush(c()); }

    void roundTrip() override { std::free(xcb_get_input_focus_reply(c(), xcb_get_input_focus(c()), nullptr)); }

private:
    xcb_connection_t* c() const { return connection_.get(); }

    // Takes in what the display sent: a keyboard map change makes the map be read again.
    void drainEvents() {
        bool remapped = false;
        while (xcb_generic_event_t* e = xcb_poll_for_event(c())) {
            if ((e->response_type & 0x7F) == XCB_MAPPING_NOTIFY) {
                const auto* m = reinterpret_cast<xcb_mapping_notify_event_t*>(e);
                if (m->request == XCB_MAPPING_KEYBOARD) remapped = true;
            }
            std::free(e);
        }
        if (remapped) keyboard_->reload();
    }

    void fakeKey(xcb_keycode_t keycode, bool press) {
        if (press) keyboard_->beforePress(keycode);
        xcb_test_fake_input(c(), press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        keyboard_->used(keycode);
    }

    void fakeButton(uint8_t number, bool press) {
        xcb_test_fake_input(c(), press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, number, XCB_CURRENT_TIME, XCB_NONE, 0,
                            0, 0);
    }

    // Before a character (`before`) and after it: Shift pressed for a shifted one where none is held,
    // or the held Shift keys let go of for an unshifted one and pressed again afterwards.
    void shiftAround(bool shift, const std::vector<xcb_keycode_t>& held, xcb_keycode_t shiftKey, bool before) {
        if (shift) {
            fakeKey(shiftKey, before);
            return;
        }
        for (const xcb_keycode_t keycode : held)
            fakeKey(keycode, !before);
    }

    // A keycode that types `ks` on the unshifted level, so that it can be held down as it is: a spare
    // keycode is remapped when the map lacks it or has it only with Shift (digits on AZERTY).
    std::optional<xcb_keycode_t> unshiftedKeycode(uint32_t ks, uint32_t fallback) {
        for (const uint32_t k : {ks, fallback}) {
            if (k == 0) continue;
            if (const auto s = keyboard_->find(k); s && !s->shift) return s->keycode;
        }
        return keyboard_->mapUnshifted(ks);
    }

    // A modifier key is only useful where the map makes it a modifier, so it is never remapped.
    std::optional<xcb_keycode_t> modifierKeycode(uint32_t ks, uint32_t fallback) {
        for (const uint32_t k : {ks, fallback})
            if (const auto s = keyboard_->find(k); s && !s->shift) return s->keycode;
        return std::nullopt;
    }

    bool capsLockOn() {
        const auto cookie = xcb_query_pointer(c(), root_);
        std::unique_ptr<xcb_query_pointer_reply_t, decltype(&std::free)> reply(
            xcb_query_pointer_reply(c(), cookie, nullptr), &std::free);
        return reply && (reply->mask & XCB_MOD_MASK_LOCK);
    }

    std::unique_ptr<xcb_connection_t, Disconnect> connection_;
    std::string unavailable_;
    xcb_window_t root_ = 0;
    StreamedArea screen_;
    // Gives the spare keycodes their empty entries back before the connection closes.
    std::unique_ptr<X11Keyboard> keyboard_;
    std::map<uint16_t, xcb_keycode_t> pressed_; // keys down, by HID usage ID
};

} // namespace

std::unique_ptr<DeviceInjector> makeX11InputInjector(std::shared_ptr<DesktopSession> desktop,
                                                     const std::string& display, const Scheduler& clock) {
    return std::make_unique<DeviceInjector>(std::make_unique<X11InputDevice>(display), std::move(desktop), clock);
}

} // namespace dovrel::agent
