#include "agent/core/DeviceInjector.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <stdexcept>
#include <vector>

#include <QString>
#include <QTextBoundaryFinder>

#include "agent/common/AgentLog.h"
#include "agent/core/ScrollAccumulator.h"

namespace dovrel::agent {

namespace {

constexpr uint8_t kLeft = 0x1, kRight = 0x2, kMiddle = 0x4;

// Keys that open the desktop's own features (HID usages).
constexpr uint16_t usageF4 = 0x3D;
constexpr uint16_t usageUpArrow = 0x52;

const char* modifierName(uint16_t usage) {
    static constexpr const char* names[] = {"control", "shift", "alt", "super"};
    return names[(usage - 0xE0) % 4];
}

// The modifier keys a chord presses, in the order it presses them (the left-hand ones).
struct ChordKey {
    uint16_t bit;
    uint16_t usage;
};
constexpr ChordKey kChordOrder[] = {
    {wex::KeyEvent::control, 0xE0},
    {wex::KeyEvent::option, 0xE2},
    {wex::KeyEvent::shift, 0xE1},
    {wex::KeyEvent::command, 0xE3},
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

struct DeviceInjector::Rules {
    using Button = InputDevice::Button;

    const std::unique_ptr<InputDevice> device;
    const std::shared_ptr<DesktopSession> desktop;
    const Scheduler& clock;
    const bool logInput;
    StreamedArea area;
    ScrollAccumulator scroll;
    uint8_t buttonsDown = 0;
    bool penDown = false;
    std::set<uint16_t> keysDown;         // other keys pressed alone, by usage ID
    std::vector<uint16_t> modifiersDown; // modifier keys, in the order they went down
    // The controller reports what it holds in every key event's modifier byte.
    bool byteCounts = false;

    Rules(std::unique_ptr<InputDevice> d, std::shared_ptr<DesktopSession> s, const Scheduler& c)
        : device(std::move(d)), desktop(std::move(s)), clock(c), logInput(std::getenv("DOVREL_LOG_INPUT")),
          area(device->wholeScreen()) {}

    uint16_t heldBits() const {
        uint16_t bits = 0;
        for (const uint16_t usage : modifiersDown)
            bits |= wex::KeyEvent::modifierBitOf(usage);
        return bits;
    }

    void dropped(uint32_t usage, const char* why) { log("key DROPPED usage=" + hexUsage(usage) + " " + why); }

    // Lets go of the held modifier keys the controller no longer holds, but for `own`, the key whose
    // release is on its way.
    void reconcile(uint16_t byte, uint16_t own) {
        std::string names;
        for (auto it = modifiersDown.end(); it != modifiersDown.begin();) {
            --it;
            if (*it == own || (byte & wex::KeyEvent::modifierBitOf(*it))) continue;
            device->key(*it, false);
            names += std::string(names.empty() ? "" : ", ") + modifierName(*it);
            it = modifiersDown.erase(it);
        }
        if (!names.empty()) log("released " + names + " — the controller no longer holds it");
    }

    void modifierKey(const wex::KeyEvent& e) {
        const uint16_t usage = e.usageId();
        const auto held = std::find(modifiersDown.begin(), modifiersDown.end(), usage);
        if (!e.pressed()) {
            if (held == modifiersDown.end()) return;
            device->key(usage, false);
            modifiersDown.erase(held);
            if (logInput) log("key up usage=" + hexUsage(e.usage));
            return;
        }
        if (held != modifiersDown.end()) return; // held already: a repeat changes nothing
        if (!device->key(usage, true)) return dropped(e.usage, "(not on this keyboard map)");
        modifiersDown.push_back(usage);
        if (logInput) log("key down usage=" + hexUsage(e.usage));
    }

    // One stroke of the key with the modifiers the byte names pressed around it, those not held
    // already; they come up again in reverse order.
    void chord(const wex::KeyEvent& e) {
        std::vector<uint16_t> pressed;
        const uint16_t held = heldBits();
        for (const ChordKey& m : kChordOrder)
            if ((e.modifiers & m.bit) && !(held & m.bit) && device->key(m.usage, true)) pressed.push_back(m.usage);
        const bool struck = device->key(e.usageId(), true);
        if (struck) device->key(e.usageId(), false);
        for (auto it = pressed.rbegin(); it != pressed.rend(); ++it)
            device->key(*it, false);
        if (!struck)
            dropped(e.usage, "(not on this keyboard map)");
        else if (logInput)
            log("chord usage=" + hexUsage(e.usage) + " mods=" + std::to_string(e.modifiers));
    }

    void keyEvent(const wex::KeyEvent& e) {
        const uint16_t usage = e.usageId();
        if (e.usagePage() != wex::KeyEvent::keyboardUsagePage || !device->knows(usage))
            return dropped(e.usage, "(no VK mapping)");
        const bool modifier = wex::KeyEvent::isModifierUsage(usage);
        // Only a controller that reports its modifiers sends a modifier's press with its own bit set.
        if (modifier && e.pressed() && (e.modifiers & wex::KeyEvent::modifierBitOf(usage))) byteCounts = true;
        if (byteCounts) reconcile(e.modifiers, modifier && !e.pressed() ? usage : 0);
        if (modifier) return modifierKey(e);

        if (!e.pressed()) {
            // A key is let go of whatever modifiers the release carries: one left held down would repeat.
            if (keysDown.erase(usage) == 0) return;
            device->key(usage, false);
            if (logInput) log("key up usage=" + hexUsage(e.usage));
            return;
        }
        const uint16_t modifiers = e.modifiers | heldBits();
        if (usage == usageF4 && modifiers == 0) {
            log("launch app grid");
            desktop->showLauncher();
            return;
        }
        if (usage == usageUpArrow && modifiers == wex::KeyEvent::control) {
            log("launch window overview");
            desktop->showWindowOverview();
            return;
        }
        if (e.modifiers != 0) return chord(e);
        if (!device->key(usage, true)) return dropped(e.usage, "(not on this keyboard map)");
        keysDown.insert(usage);
        if (logInput) log("key down usage=" + hexUsage(e.usage));
    }

    void text(const std::string& utf8, const std::atomic<uint64_t>& epoch, uint64_t mine) {
        // A Windows line break is one Return.
        const std::u32string scalars = QString::fromStdString(utf8).toStdU32String();
        std::u32string characters;
        for (std::size_t i = 0; i < scalars.size(); ++i)
            if (!(scalars[i] == U'\n' && i > 0 && scalars[i - 1] == U'\r')) characters += scalars[i];
        // The session ended meanwhile: the rest is not typed.
        device->type(characters, [&] { return epoch.load() != mine; });
        if (logInput) log("text \"" + firstCharacters(utf8, 40) + "\"");
    }

    void pointer(int32_t x, int32_t y, uint8_t buttons) {
        const ScreenPoint p = area.toScreen(x, y);
        device->moveTo(p);
        if (logInput) log("move " + at(p) + " held=" + std::to_string(buttons != 0 ? buttons : buttonsDown));
    }

    void mouseButton(const wex::MouseButtonEvent& e) {
        const ScreenPoint p = area.toScreen(e.x, e.y);
        uint8_t bit = kLeft;
        Button which = Button::left;
        const char* name = "left";
        if (e.button == wex::MouseButtonEvent::right) bit = kRight, which = Button::right, name = "right";
        if (e.button == wex::MouseButtonEvent::middle) bit = kMiddle, which = Button::middle, name = "middle";
        const bool down = e.pressed();
        // Desktop applications count clicks themselves from the timing of presses; the count only
        // reaches the log.
        if (down)
            buttonsDown |= bit;
        else
            buttonsDown &= static_cast<uint8_t>(~bit);
        device->moveTo(p);
        device->button(which, down);
        log(std::string(name) + (down ? " down×" : " up×") + std::to_string(e.clickCount) + " " + at(p));
    }

    void scrollBy(const wex::ScrollEvent& e) {
        const auto clicks = scroll.add(e.dx, e.dy, clock.now());
        if (clicks.vertical != 0 || clicks.horizontal != 0) device->wheel(clicks.vertical, clicks.horizontal);
        log("scroll dx=" + std::to_string(e.dx / wex::ScrollEvent::unitsPerPixel) +
            " dy=" + std::to_string(e.dy / wex::ScrollEvent::unitsPerPixel));
    }

    // A pen is the pointer with the left button as its tip.
    void pen(const wex::PenEvent& e) {
        device->moveTo(area.toScreen(e.x, e.y));
        switch (e.contact) {
        case wex::PenContact::hover: break;
        case wex::PenContact::touching:
            if (!penDown) device->button(Button::left, true);
            penDown = true;
            break;
        case wex::PenContact::leaving:
            if (penDown) device->button(Button::left, false);
            penDown = false;
            break;
        }
    }

    void inject(const wex::InputEvent& event, const std::atomic<uint64_t>& epoch, uint64_t mine) {
        if (const auto* m = event.get<wex::MouseMoveEvent>())
            pointer(m->x, m->y, m->buttons);
        else if (const auto* d = event.get<wex::MouseDragEvent>())
            pointer(d->x, d->y, d->buttons);
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
        device->flush();
    }

    // Lets go of every key and button; when the session is over, the next controller's byte counts
    // only once it shows it reports its modifiers.
    void letGo(bool sessionOver) {
        const std::size_t keys = keysDown.size() + modifiersDown.size();
        for (const uint16_t usage : keysDown)
            device->key(usage, false);
        for (auto it = modifiersDown.rbegin(); it != modifiersDown.rend(); ++it)
            device->key(*it, false);
        keysDown.clear();
        modifiersDown.clear();
        if (keys != 0) log("released " + std::to_string(keys) + " held key(s)");
        const uint8_t buttons = buttonsDown;
        buttonsDown = 0;
        if (buttons & kLeft) device->button(Button::left, false);
        if (buttons & kRight) device->button(Button::right, false);
        if (buttons & kMiddle) device->button(Button::middle, false);
        // A pen left touching holds the left button down just as a mouse would.
        const bool pen = penDown && !(buttons & kLeft);
        if (penDown) device->button(Button::left, false);
        penDown = false;
        if (buttons != 0 || pen) log("released held mouse button(s)");
        scroll.reset();
        if (sessionOver) byteCounts = false;
        device->flush();
    }
};

DeviceInjector::DeviceInjector(std::unique_ptr<InputDevice> device, std::shared_ptr<DesktopSession> desktop,
                               const Scheduler& clock) {
    if (!device || !desktop) throw std::invalid_argument("DeviceInjector needs an input device and a desktop session");
    unavailable_ = device->unavailableReason();
    rules_ = std::make_unique<Rules>(std::move(device), std::move(desktop), clock);
    if (!unavailable_.empty()) print("⚠︎ input injection unavailable — " + unavailable_);
}

DeviceInjector::~DeviceInjector() {
    // Nothing of what is still queued is acted out, and nothing is left held down on the desktop. The
    // device goes on the thread that used it.
    epoch_.fetch_add(1);
    queue_.sync([this] {
        if (connected()) rules_->letGo(true);
        rules_.reset();
    });
}

bool DeviceInjector::connected() const { return rules_ && unavailable_.empty(); }

void DeviceInjector::apply(const wex::InputEvent& event) {
    if (!connected()) return;
    const uint64_t mine = epoch_.load();
    queue_.post([this, event, mine] {
        if (epoch_.load() != mine) return; // queued before the session ended
        rules_->inject(event, epoch_, mine);
    });
}

void DeviceInjector::releaseAll() {
    if (!connected()) return;
    epoch_.fetch_add(1);
    queue_.post([this] { rules_->letGo(true); });
}

void DeviceInjector::releaseHeld() {
    if (!connected()) return;
    queue_.post([this] { rules_->letGo(false); });
}

void DeviceInjector::setStreamedArea(const StreamedArea& area) {
    if (!connected() || area.empty()) return;
    queue_.post([this, area] { rules_->area = area; });
}

void DeviceInjector::waitIdle() {
    queue_.sync([this] {
        if (connected()) rules_->device->roundTrip();
    });
}

} // namespace dovrel::agent
