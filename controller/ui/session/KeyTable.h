#pragma once

#include <cstdint>
#include <optional>

namespace dovrel::controller {

// The HID keyboard usage of a key pressed here, found by where the key sits: from the X key code
// (the evdev code + 8, as Qt reports it on X11 and Wayland), so that a layout other than US still
// presses the key at the same place on the remote machine. A zero scan code (an event made by
// software) falls back to the Qt key. Letters, digits, Return, Escape, Backspace, Tab, Space, F1-F12,
// Home, End, Page Up and Down, Forward Delete, the arrows and keypad Enter have usages; other keys
// have none and travel as text.
std::optional<uint16_t> hidUsageForKey(uint32_t nativeScanCode, int qtKey);

// Return, Tab, Escape, Backspace, Forward Delete, keypad Enter, the arrows, F1-F12, Home, End, Page
// Up and Page Down: always sent as keys, never as the text they make.
bool isSpecialKey(uint16_t usage);

} // namespace dovrel::controller
