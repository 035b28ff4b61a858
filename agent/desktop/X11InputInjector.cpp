#include "agent/desktop/X11InputInjector.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include <QString>
#include <QTextBoundaryFinder>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include "agent/common/AgentLog.h"
#include "agent/desktop/HidKeysyms.h"
#include "agent/desktop/ScrollAccumulator.h"
#include "agent/desktop/X11Keyboard.h"

namespace dovrel::agent {

namespace {

struct Disconnect {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

constexpr uint8_t kLeft = 0x1, kRight = 0x2, kMiddle = 0x4;

// Keys that open the desktop's own features (HID usages).
constexpr uint16_t usageF4 = 0x3D;
constexpr uint16_t usageUpArrow = 0x52;

// X button numbers.
constexpr uint8_t kButtonLeft = 1, kButtonMiddle = 2, kButtonRight = 3;
constexpr uint8_t kWheelUp = 4, kWheelDown = 5, kWheelLeft = 6, kWheelRight = 7;

// Modifier bits of a key event, in the order a chord presses them.
struct ChordModifier {
    uint16_t bit;
    uint32_t keysym;
    uint32_t fallback;
};
constexpr ChordModifier kChordOrder[] = {
    {wex::KeyEvent::control, keysym::controlL, keysym::controlR},
    {wex::KeyEvent::option, keysym::altL, keysym::altR},
    {wex::KeyEvent::shift, keysym::shiftL, keysym::shiftR},
    {wex::KeyEvent::command, keysym::superL, keysym::superR},
};

void log(const std::string& message) { print("  [inject] " + message); }

std::string hexUsage(uint32_t usage) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", usage);
    return buf;
}

std::string at(ScreenPoint p) { return "@" + std::to_string(p.x) + "," + std::to_string(p.y); }

// The first `n` user-perceived characters.
std::string firstCharacters(const std::string& text, int n) {
    const QString s = QString::fromStdString(text);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    int end = 0;
    for (int i = 0; i < n; ++i) {
        const auto next = finder.toNextBoundary();
        if (next < 0) break;
        end = static_cast<int>(next);
    }
    return s.left(end).toStdString();
}

} // namespace

struct X11InputInjector::State {
    const std::shared_ptr<DesktopSession> desktop;
    const Scheduler& clock;
    const bool logInput;
    std::unique_ptr<xcb_connection_t, Disconnect> connection;
    xcb_window_t root = 0;
    bool usable = false;
    std::unique_ptr<X11Keyboard> keyboard;
    StreamedArea area;
    ScrollAccumulator scroll;
    uint8_t buttonsDown = 0;
    std::map<uint16_t, xcb_keycode_t> keysDown; // by HID usage ID
    bool penDown = false;
    std::string unavailable; // why nothing can be injected; empty when usable

    State(std::shared_ptr<DesktopSession> d, const std::string& display, const Scheduler& c)
        : desktop(std::move(d)), clock(c), logInput(std::getenv("DOVREL_LOG_INPUT")) {
        int screenNumber = 0;
        connection.reset(xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber));
        if (xcb_connection_has_error(connection.get())) {
            unavailable = "cannot reach the X display";
            print("⚠︎ input injection unavailable — " + unavailable);
            return;
        }
        const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(connection.get(), &xcb_test_id);
        if (!xtest || !xtest->present) {
            unavailable = "the X display has no XTEST extension";
            print("⚠︎ input injection unavailable — " + unavailable);
            return;
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
        for (int i = 0; i < screenNumber && it.rem; ++i)
            xcb_screen_next(&it);
        if (!it.rem) {
            unavailable = "the X display has no such screen";
            print("⚠︎ input injection unavailable — " + unavailable);
            return;
        }
        root = it.data->root;
        area = StreamedArea{0, 0, it.data->width_in_pixels, it.data->height_in_pixels, 0, 0};
        keyboard = std::make_unique<X11Keyboard>(connection.get());
        usable = true;
    }

    xcb_connection_t* c() const { return connection.get(); }

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
        if (remapped) keyboard->reload();
    }

    void key(xcb_keycode_t keycode, bool press) {
        if (press) keyboard->beforePress(keycode);
        xcb_test_fake_input(c(), press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        keyboard->used(keycode);
    }
    void button(uint8_t number, bool press) {
        xcb_test_fake_input(c(), press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, number, XCB_CURRENT_TIME, XCB_NONE, 0,
                            0, 0);
    }
    void motion(ScreenPoint p) {
        xcb_test_fake_input(c(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, static_cast<int16_t>(p.x),
                            static_cast<int16_t>(p.y), 0);
    }

    // A keycode that types `ks` on the unshifted level, so that it can be held down as it is: a spare
    // keycode is remapped when the map lacks it or has it only with Shift (digits on AZERTY).
    std::optional<xcb_keycode_t> unshiftedKeycode(uint32_t ks, uint32_t fallback = 0) {
        for (const uint32_t k : {ks, fallback}) {
            if (k == 0) continue;
            if (const auto s = keyboard->find(k); s && !s->shift) return s->keycode;
        }
        return keyboard->mapUnshifted(ks);
    }

    // A modifier key is only useful where the map makes it a modifier, so it is never remapped.
    std::optional<xcb_keycode_t> modifierKeycode(uint32_t ks, uint32_t fallback) {
        for (const uint32_t k : {ks, fallback})
            if (const auto s = keyboard->find(k); s && !s->shift) return s->keycode;
        return std::nullopt;
    }

    void pointer(ScreenPoint p, uint8_t buttons) {
        const uint8_t held = buttons != 0 ? buttons : buttonsDown;
        motion(p);
        if (logInput) log("move " + at(p) + " held=" + std::to_string(held));
    }

    void mouseButton(const wex::MouseButtonEvent& e) {
        const ScreenPoint p = area.toScreen(e.x, e.y);
        uint8_t bit = kLeft, number = kButtonLeft;
        const char* name = "left";
        if (e.button == wex::MouseButtonEvent::right) bit = kRight, number = kButtonRight, name = "right";
        if (e.button == wex::MouseButtonEvent::middle) bit = kMiddle, number = kButtonMiddle, name = "middle";
        const bool down = e.pressed();
        // X applications count clicks themselves from the timing of presses; the count only reaches the log.
        if (down)
            buttonsDown |= bit;
        else
            buttonsDown &= static_cast<uint8_t>(~bit);
        motion(p);
        button(number, down);
        log(std::string(name) + (down ? " down×" : " up×") + std::to_string(e.clickCount) + " " + at(p));
    }

    void scrollBy(const wex::ScrollEvent& e) {
        const auto clicks = scroll.add(e.dx, e.dy, clock.now());
        const auto wheel = [&](int count, uint8_t positive, uint8_t negative) {
            const uint8_t number = count > 0 ? positive : negative;
            for (int i = 0; i < std::abs(count); ++i) {
                button(number, true);
                button(number, false);
            }
        };
        wheel(clicks.vertical, kWheelUp, kWheelDown);
        wheel(clicks.horizontal, kWheelLeft, kWheelRight);
        log("scroll dx=" + std::to_string(e.dx / 8) + " dy=" + std::to_string(e.dy / 8));
    }

    void keyEvent(const wex::KeyEvent& e) {
        const auto hid = e.usagePage() == wex::KeyEvent::keyboardUsagePage ? hidKeyForUsage(e.usageId()) : std::nullopt;
        // The modifier keys alone are dropped: held down here, a lost key-up would leave the desktop
        // shifted or controlled. Chords carry their modifiers with them.
        if (!hid || hid->modifierBit) {
            log("key DROPPED usage=" + hexUsage(e.usage) + " (no VK mapping)");
            return;
        }
        const bool down = e.pressed();
        if (!down) {
            // A key is let go of whatever modifiers the release carries: one left held down would repeat.
            const auto it = keysDown.find(e.usageId());
            if (it == keysDown.end()) return;
            key(it->second, false);
            keyboard->hold(it->second, false);
            if (logInput) log("key up vk=" + std::to_string(it->second));
            keysDown.erase(it);
            return;
        }
        if (e.usageId() == usageF4 && e.modifiers == 0) {
            log("launch app grid");
            desktop->showLauncher();
            return;
        }
        if (e.usageId() == usageUpArrow && e.modifiers == wex::KeyEvent::control) {
            log("launch window overview");
            desktop->showWindowOverview();
            return;
        }

        const std::optional<xcb_keycode_t> keycode = unshiftedKeycode(hid->keysym, hid->fallbackKeysym);
        if (!keycode) {
            log("key DROPPED usage=" + hexUsage(e.usage) + " (not on this keyboard map)");
            return;
        }
        if (e.modifiers != 0) {
            chord(*keycode, e.modifiers);
            return;
        }
        const bool repeat = keysDown.contains(e.usageId());
        key(*keycode, true);
        if (!repeat) {
            keyboard->hold(*keycode, true);
            keysDown[e.usageId()] = *keycode;
        }
        if (logInput) log("key down vk=" + std::to_string(*keycode));
    }

    // Presses the modifiers around one stroke of the key, then lets them go in reverse order. Bits that
    // name no modifier press nothing, but still make the key a single stroke.
    void chord(xcb_keycode_t keycode, uint16_t modifiers) {
        std::vector<xcb_keycode_t> pressed;
        for (const ChordModifier& m : kChordOrder) {
            if (!(modifiers & m.bit)) continue;
            const auto kc = modifierKeycode(m.keysym, m.fallback);
            if (!kc) continue;
            key(*kc, true);
            pressed.push_back(*kc);
        }
        key(keycode, true);
        key(keycode, false);
        for (auto it = pressed.rbegin(); it != pressed.rend(); ++it)
            key(*it, false);
        if (logInput) log("chord vk=" + std::to_string(keycode) + " mods=" + std::to_string(modifiers));
    }

    bool capsLockOn() {
        const auto cookie = xcb_query_pointer(c(), root);
        std::unique_ptr<xcb_query_pointer_reply_t, decltype(&std::free)> reply(
            xcb_query_pointer_reply(c(), cookie, nullptr), &std::free);
        return reply && (reply->mask & XCB_MOD_MASK_LOCK);
    }

    void text(const std::string& utf8, const std::atomic<uint64_t>& epoch, uint64_t mine) {
        // A Windows line break is one Return.
        const std::u32string scalars = QString::fromStdString(utf8).toStdU32String();
        std::vector<uint32_t> keysyms;
        for (std::size_t i = 0; i < scalars.size(); ++i) {
            if (scalars[i] == U'\n' && i > 0 && scalars[i - 1] == U'\r') continue;
            if (const auto ks = keysymForCharacter(scalars[i])) keysyms.push_back(*ks);
        }

        const bool caps = !keysyms.empty() && capsLockOn();
        const auto shiftKey = modifierKeycode(keysym::shiftL, keysym::shiftR);
        for (std::size_t i = 0; i < keysyms.size(); ++i) {
            if (epoch.load() != mine) break; // the session ended: the rest is not typed
            const uint32_t ks = keysyms[i];
            auto stroke = keyboard->find(ks);
            if (!stroke) {
                // This character and the next ones the map lacks get spare keycodes in one go.
                keyboard->prepare(std::span(keysyms).subspan(i));
                stroke = keyboard->find(ks);
            }
            if (stroke && stroke->shift && !shiftKey) {
                const auto unshifted = keyboard->mapUnshifted(ks);
                stroke = unshifted ? std::optional(X11Keyboard::Stroke{*unshifted, false}) : std::nullopt;
            }
            if (!stroke) continue;
            bool shift = stroke->shift;
            // Caps Lock turns the case of letters on the map; Shift turns it back.
            const bool letter = (ks >= 'a' && ks <= 'z') || (ks >= 'A' && ks <= 'Z');
            if (caps && letter && !keyboard->isSpare(stroke->keycode)) shift = !shift;
            if (shift) key(*shiftKey, true);
            key(stroke->keycode, true);
            key(stroke->keycode, false);
            if (shift) key(*shiftKey, false);
        }
        if (logInput) log("text \"" + firstCharacters(utf8, 40) + "\"");
    }

    // Without pressure or tilt in XTest, a pen is the pointer with the left button as its tip.
    void pen(const wex::PenEvent& e) {
        const ScreenPoint p = area.toScreen(e.x, e.y);
        motion(p);
        switch (e.contact) {
        case wex::PenContact::hover: break;
        case wex::PenContact::touching:
            if (!penDown) button(kButtonLeft, true);
            penDown = true;
            break;
        case wex::PenContact::leaving:
            if (penDown) button(kButtonLeft, false);
            penDown = false;
            break;
        }
    }

    void inject(const wex::InputEvent& event, const std::atomic<uint64_t>& epoch, uint64_t mine) {
        drainEvents();
        if (const auto* m = event.get<wex::MouseMoveEvent>())
            pointer(area.toScreen(m->x, m->y), m->buttons);
        else if (const auto* d = event.get<wex::MouseDragEvent>())
            pointer(area.toScreen(d->x, d->y), d->buttons);
        else if (const auto* b = event.get<wex::MouseButtonEvent>())
            mouseButton(*b);
        else if (const auto* s = event.get<wex::ScrollEvent>())
            scrollBy(*s);
        else if (const auto* k = event.get<wex::KeyEvent>())
            keyEvent(*k);
        else if (const auto* t = event.get<wex::TextEvent>())
            text(t->text, epoch, mine);
        else if (const auto* p = event.get<wex::PenEvent>())
            pen(*p);
        xcb_flush(c());
    }

    void releaseHeld() {
        drainEvents();
        const auto keys = std::move(keysDown);
        keysDown.clear();
        for (const auto& [usage, keycode] : keys) {
            key(keycode, false);
            keyboard->hold(keycode, false);
        }
        if (!keys.empty()) log("released " + std::to_string(keys.size()) + " held key(s)");
        const uint8_t buttons = buttonsDown;
        buttonsDown = 0;
        if (buttons & kLeft) button(kButtonLeft, false);
        if (buttons & kRight) button(kButtonRight, false);
        if (buttons & kMiddle) button(kButtonMiddle, false);
        // A pen left touching holds the left button down on the display just as a mouse would.
        const bool pen = penDown && !(buttons & kLeft);
        if (penDown) button(kButtonLeft, false);
        penDown = false;
        if (buttons != 0 || pen) log("released held mouse button(s)");
        scroll.reset();
        xcb_flush(c());
    }
};

X11InputInjector::X11InputInjector(std::shared_ptr<DesktopSession> desktop, const std::string& display,
                                   const Scheduler& clock)
    : state_(std::make_unique<State>(std::move(desktop), display, clock)), unavailable_(state_->unavailable) {}

X11InputInjector::~X11InputInjector() {
    // Nothing of what is still queued is injected, and nothing is left held down on the display.
    epoch_.fetch_add(1);
    queue_.sync([this] {
        if (state_->usable) state_->releaseHeld();
        state_.reset();
    });
}

bool X11InputInjector::connected() const { return state_ && state_->usable; }

void X11InputInjector::apply(const wex::InputEvent& event) {
    if (!connected()) return;
    const uint64_t mine = epoch_.load();
    queue_.post([this, event, mine] {
        if (epoch_.load() != mine) return; // queued before the session ended
        state_->inject(event, epoch_, mine);
    });
}

void X11InputInjector::releaseAll() {
    if (!connected()) return;
    epoch_.fetch_add(1);
    queue_.post([this] { state_->releaseHeld(); });
}

void X11InputInjector::setStreamedArea(const StreamedArea& area) {
    if (!connected() || area.empty()) return;
    queue_.post([this, area] { state_->area = area; });
}

void X11InputInjector::waitIdle() {
    queue_.sync([this] {
        // A round trip: the display has then handled every request sent before it.
        if (state_ && state_->usable)
            std::free(xcb_get_input_focus_reply(state_->c(), xcb_get_input_focus(state_->c()), nullptr));
    });
}

} // namespace dovrel::agent
