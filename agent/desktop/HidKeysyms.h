#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace dovrel::agent {

// X keysyms the injector needs by name (values fixed by the X protocol).
namespace keysym {
inline constexpr uint32_t backSpace = 0xff08;
inline constexpr uint32_t tab = 0xff09;
inline constexpr uint32_t returnKey = 0xff0d;
inline constexpr uint32_t escape = 0xff1b;
inline constexpr uint32_t home = 0xff50;
inline constexpr uint32_t left = 0xff51;
inline constexpr uint32_t up = 0xff52;
inline constexpr uint32_t right = 0xff53;
inline constexpr uint32_t down = 0xff54;
inline constexpr uint32_t pageUp = 0xff55;
inline constexpr uint32_t pageDown = 0xff56;
inline constexpr uint32_t end = 0xff57;
inline constexpr uint32_t keypadEnter = 0xff8d;
inline constexpr uint32_t f1 = 0xffbe;
inline constexpr uint32_t shiftL = 0xffe1;
inline constexpr uint32_t shiftR = 0xffe2;
inline constexpr uint32_t controlL = 0xffe3;
inline constexpr uint32_t controlR = 0xffe4;
inline constexpr uint32_t altL = 0xffe9;
inline constexpr uint32_t altR = 0xffea;
inline constexpr uint32_t superL = 0xffeb;
inline constexpr uint32_t superR = 0xffec;
inline constexpr uint32_t deleteKey = 0xffff;
// Any Unicode character past Latin-1 is this plus its code point.
inline constexpr uint32_t unicodeBase = 0x01000000;
} // namespace keysym

// What one key of the HID keyboard page (usage page 7) is on this desktop.
struct HidKey {
    uint32_t keysym = 0;
    // The same key on the other side of the keyboard, for a keyboard map that lacks the first.
    uint32_t fallbackKeysym = 0;

    bool operator==(const HidKey&) const = default;
};

// Letters, digits, Enter, Escape, Backspace, Tab, Space, F1-F12, the arrows, Home, End, Page Up and
// Down, Delete Forward and Keypad Enter, plus the modifier keys (Command is Super). Punctuation and
// keypad keys are not mapped: controllers send those as text.
std::optional<HidKey> hidKeyForUsage(uint16_t usageId);

// What `pressed` (the keys a device holds down, by usage ID) holds for the Shift keys that are down,
// left before right.
template <class PressedKeys> std::vector<typename PressedKeys::mapped_type> heldShiftKeys(const PressedKeys& pressed) {
    std::vector<typename PressedKeys::mapped_type> held;
    for (const uint16_t usage : {uint16_t{0xE1}, uint16_t{0xE5}})
        if (const auto it = pressed.find(usage); it != pressed.end()) held.push_back(it->second);
    return held;
}

// The keysym that types a Unicode scalar value: Latin-1 keysyms are their code points, the rest are
// Unicode keysyms. Line breaks become Return and tabs Tab; other control characters type nothing.
std::optional<uint32_t> keysymForCharacter(char32_t c);

} // namespace dovrel::agent
