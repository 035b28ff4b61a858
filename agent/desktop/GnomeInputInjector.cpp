#include "agent/desktop/GnomeInputInjector.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include <QString>

#include "agent/common/AgentLog.h"
#include "agent/desktop/HidKeysyms.h"
#include "agent/desktop/ScrollAccumulator.h"

namespace dovrel::agent {

namespace {

constexpr uint8_t kLeft = 0x1, kRight = 0x2, kMiddle = 0x4;
// evdev button codes (linux/input-event-codes.h).
constexpr int32_t btnLeft = 0x110, btnRight = 0x111, btnMiddle = 0x112;
constexpr uint32_t axisVertical = 0, axisHorizontal = 1;

constexpr uint16_t usageF4 = 0x3D;
constexpr uint16_t usageUpArrow = 0x52;

// Modifier bits of a key event, in the order a chord presses them.
constexpr struct {
    uint16_t bit;
    uint32_t keysym;
} kChordOrder[] = {
    {wex::KeyEvent::control, keysym::controlL},
    {wex::KeyEvent::option, keysym::altL},
    {wex::KeyEvent::shift, keysym::shiftL},
    {wex::KeyEvent::command, keysym::superL},
};

void log(const std::string& message) { print("  [inject] " + message); }

std::string hexUsage(uint32_t usage) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", usage);
    return buf;
}

std::string at(ScreenPoint p) { return "@" + std::to_string(p.x) + "," + std::to_string(p.y); }

} // namespace

struct GnomeInputInjector::State {
    State(std::shared_ptr<MutterSession> s, std::shared_ptr<DesktopSession> d, const Scheduler& c)
        : session(std::move(s)), desktop(std::move(d)), clock(c), logInput(std::getenv("DOVREL_LOG_INPUT")) {}

    const std::shared_ptr<MutterSession> session;
    const std::shared_ptr<DesktopSession> desktop;
    const Scheduler& clock;
    const bool logInput;
    StreamedArea area;
    ScrollAccumulator scroll;
    uint8_t buttonsDown = 0;
    std::map<uint16_t, uint32_t> keysDown; // keysym by HID usage ID
    bool penDown = false;

    // The compositor takes positions on the watched monitor's own stream.
    void motion(ScreenPoint p) {
        session->pointerMotion(static_cast<double>(p.x - area.x), static_cast<double>(p.y - area.y));
    }

    void mouseButton(const wex::MouseButtonEvent& e) {
        const ScreenPoint p = area.toScreen(e.x, e.y);
        uint8_t bit = kLeft;
        int32_t code = btnLeft;
        const char* name = "left";
        if (e.button == wex::MouseButtonEvent::right) bit = kRight, code = btnRight, name = "right";
        if (e.button == wex::MouseButtonEvent::middle) bit = kMiddle, code = btnMiddle, name = "middle";
        const bool down = e.pressed();
        // Clients count clicks themselves from the timing of presses; the count only reaches the log.
        if (down)
            buttonsDown |= bit;
        else
            buttonsDown &= static_cast<uint8_t>(~bit);
        motion(p);
        session->pointerButton(code, down);
        log(std::string(name) + (down ? " down×" : " up×") + std::to_string(e.clickCount) + " " + at(p));
    }

    void scrollBy(const wex::ScrollEvent& e) {
        const auto clicks = scroll.add(e.dx, e.dy, clock.now());
        // A wheel click up (positive) is a step towards the top: the compositor counts down as positive.
        if (clicks.vertical != 0) session->pointerAxisDiscrete(axisVertical, -clicks.vertical);
        if (clicks.horizontal != 0) session->pointerAxisDiscrete(axisHorizontal, -clicks.horizontal);
        log("scroll dx=" + std::to_string(e.dx / 8) + " dy=" + std::to_string(e.dy / 8));
    }

    void keyEvent(const wex::KeyEvent& e) {
        const auto hid = e.usagePage() == wex::KeyEvent::keyboardUsagePage ? hidKeyForUsage(e.usageId()) : std::nullopt;
        if (!hid || hid->modifierBit) {
            log("key DROPPED usage=" + hexUsage(e.usage) + " (no VK mapping)");
            return;
        }
        const bool down = e.pressed();
        if (!down) {
            const auto it = keysDown.find(e.usageId());
            if (it == keysDown.end()) return;
            session->keysym(it->second, false);
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
        if (e.modifiers != 0) {
            chord(hid->keysym, e.modifiers);
            return;
        }
        session->keysym(hid->keysym, true);
        keysDown[e.usageId()] = hid->keysym;
        if (logInput) log("key down vk=" + std::to_string(hid->keysym));
    }

    void chord(uint32_t ks, uint16_t modifiers) {
        std::vector<uint32_t> pressed;
        for (const auto& m : kChordOrder) {
            if (!(modifiers & m.bit)) continue;
            session->keysym(m.keysym, true);
            pressed.push_back(m.keysym);
        }
        session->keysym(ks, true);
        session->keysym(ks, false);
        for (auto it = pressed.rbegin(); it != pressed.rend(); ++it)
            session->keysym(*it, false);
        if (logInput) log("chord vk=" + std::to_string(ks) + " mods=" + std::to_string(modifiers));
    }

    void text(const std::string& utf8, const std::atomic<uint64_t>& epoch, uint64_t mine) {
        const std::u32string scalars = QString::fromStdString(utf8).toStdU32String();
        for (std::size_t i = 0; i < scalars.size(); ++i) {
            if (epoch.load() != mine) break; // the session ended: the rest is not typed
            // A Windows line break is one Return.
            if (scalars[i] == U'\n' && i > 0 && scalars[i - 1] == U'\r') continue;
            const auto ks = keysymForCharacter(scalars[i]);
            if (!ks) continue;
            session->keysym(*ks, true);
            session->keysym(*ks, false);
        }
        if (logInput) log("text \"" + QString::fromStdString(utf8).left(40).toStdString() + "\"");
    }

    void pen(const wex::PenEvent& e) {
        motion(area.toScreen(e.x, e.y));
        switch (e.contact) {
        case wex::PenContact::hover: break;
        case wex::PenContact::touching:
            if (!penDown) session->pointerButton(btnLeft, true);
            penDown = true;
            break;
        case wex::PenContact::leaving:
            if (penDown) session->pointerButton(btnLeft, false);
            penDown = false;
            break;
        }
    }

    void inject(const wex::InputEvent& event, const std::atomic<uint64_t>& epoch, uint64_t mine) {
        if (const auto* m = event.get<wex::MouseMoveEvent>()) {
            const ScreenPoint p = area.toScreen(m->x, m->y);
            motion(p);
            if (logInput) log("move " + at(p) + " held=" + std::to_string(m->buttons ? m->buttons : buttonsDown));
        } else if (const auto* d = event.get<wex::MouseDragEvent>()) {
            const ScreenPoint p = area.toScreen(d->x, d->y);
            motion(p);
            if (logInput) log("move " + at(p) + " held=" + std::to_string(d->buttons ? d->buttons : buttonsDown));
        } else if (const auto* b = event.get<wex::MouseButtonEvent>()) {
            mouseButton(*b);
        } else if (const auto* s = event.get<wex::ScrollEvent>()) {
            scrollBy(*s);
        } else if (const auto* k = event.get<wex::KeyEvent>()) {
            keyEvent(*k);
        } else if (const auto* t = event.get<wex::TextEvent>()) {
            text(t->text, epoch, mine);
        } else if (const auto* p = event.get<wex::PenEvent>()) {
            pen(*p);
        }
    }

    void releaseHeld() {
        const auto keys = std::move(keysDown);
        keysDown.clear();
        for (const auto& [usage, ks] : keys)
            session->keysym(ks, false);
        if (!keys.empty()) log("released " + std::to_string(keys.size()) + " held key(s)");
        const uint8_t buttons = buttonsDown;
        buttonsDown = 0;
        if (buttons & kLeft) session->pointerButton(btnLeft, false);
        if (buttons & kRight) session->pointerButton(btnRight, false);
        if (buttons & kMiddle) session->pointerButton(btnMiddle, false);
        const bool pen = penDown && !(buttons & kLeft);
        if (pen) session->pointerButton(btnLeft, false);
        penDown = false;
        if (buttons != 0 || pen) log("released held mouse button(s)");
        scroll.reset();
    }
};

GnomeInputInjector::GnomeInputInjector(std::shared_ptr<MutterSession> session, std::shared_ptr<DesktopSession> desktop,
                                       const Scheduler& clock)
    : session_(session), state_(std::make_unique<State>(std::move(session), std::move(desktop), clock)) {}

GnomeInputInjector::~GnomeInputInjector() {
    epoch_.fetch_add(1);
    queue_.sync([this] {
        state_->releaseHeld();
        state_.reset();
    });
}

std::string GnomeInputInjector::unavailableReason() const {
    return session_->offered() ? std::string() : "GNOME's remote desktop is not on the session bus";
}

void GnomeInputInjector::apply(const wex::InputEvent& event) {
    const uint64_t mine = epoch_.load();
    queue_.post([this, event, mine] {
        if (epoch_.load() != mine) return; // queued before the session ended
        state_->inject(event, epoch_, mine);
    });
}

void GnomeInputInjector::releaseAll() {
    epoch_.fetch_add(1);
    queue_.post([this] { state_->releaseHeld(); });
}

void GnomeInputInjector::setStreamedArea(const StreamedArea& area) {
    if (area.empty()) return;
    queue_.post([this, area] { state_->area = area; });
}

void GnomeInputInjector::waitIdle() {
    queue_.sync([] {});
    session_->waitIdle();
}

} // namespace dovrel::agent
