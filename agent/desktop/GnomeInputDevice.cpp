#include "agent/desktop/GnomeInputDevice.h"

#include <map>
#include <vector>

#include "agent/desktop/HidKeysyms.h"

namespace dovrel::agent {

namespace {

// evdev button codes (linux/input-event-codes.h).
constexpr int32_t btnLeft = 0x110, btnRight = 0x111, btnMiddle = 0x112;
constexpr uint32_t axisVertical = 0, axisHorizontal = 1;

class GnomeInputDevice final : public InputDevice {
public:
    explicit GnomeInputDevice(std::shared_ptr<MutterSession> session) : session_(std::move(session)) {
        if (!session_->offered()) unavailable_ = "GNOME's remote desktop is not on the session bus";
    }

    std::string unavailableReason() const override { return unavailable_; }
    // Positions mean nothing until a monitor is streamed: the compositor's session starts with it.
    StreamedArea wholeScreen() const override { return {}; }

    void moveTo(ScreenPoint p) override { session_->pointerMotion(p.x, p.y); }

    void button(Button which, bool down) override {
        session_->pointerButton(which == Button::right    ? btnRight
                                : which == Button::middle ? btnMiddle
                                                          : btnLeft,
                                down);
    }

    // The compositor counts steps down and right as positive.
    void wheel(int vertical, int horizontal) override {
        if (vertical != 0) session_->pointerAxisDiscrete(axisVertical, -vertical);
        if (horizontal != 0) session_->pointerAxisDiscrete(axisHorizontal, -horizontal);
    }

    bool knows(uint16_t usageId) const override { return hidKeyForUsage(usageId).has_value(); }

    bool key(uint16_t usageId, bool down) override {
        const auto held = pressed_.find(usageId);
        if (!down) {
            if (held == pressed_.end()) return true;
            session_->keysym(held->second, false);
            pressed_.erase(held);
            return true;
        }
        if (held != pressed_.end()) return true;
        const auto hid = hidKeyForUsage(usageId);
        if (!hid) return false;
        session_->keysym(hid->keysym, true);
        pressed_[usageId] = hid->keysym;
        return true;
    }

    // The compositor presses Shift itself for a character on the shifted level; one held here would
    // shift the others, so it is let go of around each character.
    void type(const std::u32string& text, const std::function<bool()>& stop) override {
        const std::vector<uint32_t> heldShift = heldShiftKeys(pressed_);
        for (const char32_t ch : text) {
            if (stop()) break;
            const auto ks = keysymForCharacter(ch);
            if (!ks) continue;
            for (const uint32_t shift : heldShift)
                session_->keysym(shift, false);
            session_->keysym(*ks, true);
            session_->keysym(*ks, false);
            for (const uint32_t shift : heldShift)
                session_->keysym(shift, true);
        }
    }

    // Every call leaves for the compositor as it is made.
    void flush() override {}
    void roundTrip() override { session_->waitIdle(); }

private:
    const std::shared_ptr<MutterSession> session_;
    std::string unavailable_;
    std::map<uint16_t, uint32_t> pressed_; // keys down: the keysym each usage pressed
};

} // namespace

std::unique_ptr<DeviceInjector> makeGnomeInputInjector(std::shared_ptr<MutterSession> session,
                                                       std::shared_ptr<DesktopSession> desktop,
                                                       const Scheduler& clock) {
    return std::make_unique<DeviceInjector>(std::make_unique<GnomeInputDevice>(std::move(session)), std::move(desktop),
                                            clock);
}

} // namespace dovrel::agent
