#include "controller/ui/session/KeyTable.h"

#include <array>
#include <utility>

#include <Qt>

namespace dovrel::controller {

namespace {

// X key code -> HID usage, for the 63 keys that travel as keys.
constexpr std::array<std::pair<uint8_t, uint16_t>, 63> byKeyCode{{
    // Letters, by their place on the keyboard.
    {38, 0x04},
    {56, 0x05},
    {54, 0x06},
    {40, 0x07},
    {26, 0x08},
    {41, 0x09},
    {42, 0x0A},
    {43, 0x0B},
    {31, 0x0C},
    {44, 0x0D},
    {45, 0x0E},
    {46, 0x0F},
    {58, 0x10},
    {57, 0x11},
    {32, 0x12},
    {33, 0x13},
    {24, 0x14},
    {27, 0x15},
    {39, 0x16},
    {28, 0x17},
    {30, 0x18},
    {55, 0x19},
    {25, 0x1A},
    {53, 0x1B},
    {29, 0x1C},
    {52, 0x1D},
    // The digit row, 1 to 9 then 0.
    {10, 0x1E},
    {11, 0x1F},
    {12, 0x20},
    {13, 0x21},
    {14, 0x22},
    {15, 0x23},
    {16, 0x24},
    {17, 0x25},
    {18, 0x26},
    {19, 0x27},
    // Return, Escape, Backspace, Tab, Space.
    {36, 0x28},
    {9, 0x29},
    {22, 0x2A},
    {23, 0x2B},
    {65, 0x2C},
    // F1 to F12.
    {67, 0x3A},
    {68, 0x3B},
    {69, 0x3C},
    {70, 0x3D},
    {71, 0x3E},
    {72, 0x3F},
    {73, 0x40},
    {74, 0x41},
    {75, 0x42},
    {76, 0x43},
    {95, 0x44},
    {96, 0x45},
    // Home, Page Up, Forward Delete, End, Page Down.
    {110, 0x4A},
    {112, 0x4B},
    {119, 0x4C},
    {115, 0x4D},
    {117, 0x4E},
    // Right, Left, Down, Up; keypad Enter.
    {114, 0x4F},
    {113, 0x50},
    {116, 0x51},
    {111, 0x52},
    {104, 0x58},
}};

std::optional<uint16_t> byQtKey(int key) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<uint16_t>(0x04 + (key - Qt::Key_A));
    if (key >= Qt::Key_1 && key <= Qt::Key_9) return static_cast<uint16_t>(0x1E + (key - Qt::Key_1));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return static_cast<uint16_t>(0x3A + (key - Qt::Key_F1));
    switch (key) {
    case Qt::Key_0: return 0x27;
    case Qt::Key_Return: return 0x28;
    case Qt::Key_Escape: return 0x29;
    case Qt::Key_Backspace: return 0x2A;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 0x2B;
    case Qt::Key_Space: return 0x2C;
    case Qt::Key_Home: return 0x4A;
    case Qt::Key_PageUp: return 0x4B;
    case Qt::Key_Delete: return 0x4C;
    case Qt::Key_End: return 0x4D;
    case Qt::Key_PageDown: return 0x4E;
    case Qt::Key_Right: return 0x4F;
    case Qt::Key_Left: return 0x50;
    case Qt::Key_Down: return 0x51;
    case Qt::Key_Up: return 0x52;
    case Qt::Key_Enter: return 0x58;
    default: return std::nullopt;
    }
}

} // namespace

std::optional<uint16_t> hidUsageForKey(uint32_t nativeScanCode, int qtKey) {
    if (nativeScanCode == 0) return byQtKey(qtKey);
    for (const auto& [code, usage] : byKeyCode)
        if (code == nativeScanCode) return usage;
    return std::nullopt;
}

bool isSpecialKey(uint16_t usage) {
    switch (usage) {
    case 0x28: // Return
    case 0x29: // Escape
    case 0x2A: // Backspace
    case 0x2B: // Tab
    case 0x4C: // Forward Delete
    case 0x58: // keypad Enter
        return true;
    default:
        // F1-F12, Home, Page Up, End, Page Down, the arrows.
        return (usage >= 0x3A && usage <= 0x45) || usage == 0x4A || usage == 0x4B || (usage >= 0x4D && usage <= 0x52);
    }
}

} // namespace dovrel::controller
