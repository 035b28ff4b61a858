#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "agent/core/StreamedArea.h"

namespace dovrel::agent {

// What one desktop's input backend can do, and nothing more: move the pointer, press and release a
// button or a key, turn the wheel, type characters. Which keys and buttons are held, the modifier
// byte of the controller's key events, chords, letting go when a session ends and dropping input that
// came too late are the rules of `DeviceInjector`, which drives every backend the same way.
//
// Made on any thread; after that every call but the first two comes from the injector's own thread,
// one at a time, and only when `unavailableReason` is empty.
class InputDevice {
public:
    enum class Button { left, middle, right };

    virtual ~InputDevice() = default;

    // Why input cannot reach the desktop, or empty when it can; fixed at construction.
    virtual std::string unavailableReason() const = 0;
    // The whole screen: where pointer positions land until a monitor is streamed.
    virtual StreamedArea wholeScreen() const = 0;

    virtual void moveTo(ScreenPoint p) = 0;
    // At the pointer's position.
    virtual void button(Button which, bool down) = 0;
    // Whole wheel clicks: `vertical` positive scrolls up, `horizontal` positive scrolls left.
    virtual void wheel(int vertical, int horizontal) = 0;

    // Whether this desktop has a key for a usage ID of the HID keyboard page at all (punctuation and
    // keypad keys come as text and have none).
    virtual bool knows(uint16_t usageId) const = 0;
    // Presses or releases one key by its usage ID, a modifier key or any other. A release lets go of
    // what the press of that usage pressed (nothing when none is down); a press of a key already down
    // presses it again, as a held key repeats (where the desktop's clients repeat held keys themselves,
    // it may leave the key as it is). False when a press could not be made: the keyboard map has no room
    // for the key.
    virtual bool key(uint16_t usageId, bool down) = 0;

    // Types the characters, asking `stop` between characters whether to give up on the rest. Modifier
    // keys pressed through `key` are as they were afterwards: a character that needs Shift where none
    // is held, or none where it is, gets it changed for its own stroke only.
    virtual void type(const std::u32string& text, const std::function<bool()>& stop) = 0;

    // Hands what was done to the desktop; called after every event and every letting go.
    virtual void flush() = 0;
    // Returns once the desktop has handled everything handed to it.
    virtual void roundTrip() = 0;
};

} // namespace dovrel::agent
