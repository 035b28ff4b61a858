#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"
#include "protocol/Bytes.h"
#include "protocol/FlagSet.h"
#include "protocol/PayloadLimits.h"

// The input stream's payload (message type InputMsgType::batch): a count byte, then each event as its
// type byte, its flags byte and a body whose layout the type fixes. Pointer coordinates are 16.16 fixed
// point (Q1616) in global display coordinates.
namespace wex {

enum class InputEventType : uint8_t {
    mouseMove = 1,
    mouseButton = 2,
    mouseDrag = 3,
    scroll = 4,
    key = 5,
    pen = 6,
    text = 7,
    gesture = 8, // numbered for peers; no body is defined, so decoding refuses it
};
// The type for 1-8; nothing for 0 and 9-255.
std::optional<InputEventType> inputEventTypeFromRaw(uint8_t raw);

// Per-event flags inside a batch.
enum class EventFlag : uint8_t { reliable = 0x01, coalesced = 0x02 };
using EventFlags = FlagSet<EventFlag>;

enum class PenContact : uint8_t { hover = 0, touching = 1, leaving = 2 };
// The contact for 0-2; nothing for any other byte.
std::optional<PenContact> penContactFromRaw(uint8_t raw);

enum class PenButton : uint8_t { barrel = 0x01, eraserEnd = 0x02 };
using PenButtons = FlagSet<PenButton>;

enum class PenFlag : uint8_t { pressureValid = 0x01, tiltValid = 0x02, twistValid = 0x04, inverted = 0x08 };
using PenFlags = FlagSet<PenFlag>;

// Pointer movement, with or without buttons held (mouseMove and mouseDrag share the body).
template <InputEventType Type> struct PointerEvent {
    static constexpr InputEventType eventType = Type;
    static constexpr std::size_t bodySize = 10;
    // Bits of `buttons`.
    static constexpr uint8_t heldLeft = 0x01;
    static constexpr uint8_t heldRight = 0x02;
    static constexpr uint8_t heldMiddle = 0x04;

    uint8_t displayId = 0;
    int32_t x = 0; // 16.16
    int32_t y = 0; // 16.16
    uint8_t buttons = 0;

    bool operator==(const PointerEvent&) const = default;
};
using MouseMoveEvent = PointerEvent<InputEventType::mouseMove>;
using MouseDragEvent = PointerEvent<InputEventType::mouseDrag>;

struct MouseButtonEvent {
    static constexpr InputEventType eventType = InputEventType::mouseButton;
    static constexpr std::size_t bodySize = 12;
    // Values of `button`; any value but right and middle means left.
    static constexpr uint8_t left = 1;
    static constexpr uint8_t right = 2;
    static constexpr uint8_t middle = 3;

    uint8_t displayId = 0;
    int32_t x = 0; // 16.16
    int32_t y = 0; // 16.16
    uint8_t button = left;
    uint8_t state = 0; // 1 press, anything else release
    uint8_t clickCount = 1;

    bool pressed() const { return state == 1; }
    bool operator==(const MouseButtonEvent&) const = default;
};

struct ScrollEvent {
    static constexpr InputEventType eventType = InputEventType::scroll;
    static constexpr std::size_t bodySize = 14;
    // `dx` and `dy` are eighths of a pixel. One wheel notch is 48 pixels, about the three lines a notch
    // scrolls in desktop toolkits: a controller sends a notch as `notch` units and an agent that scrolls
    // in wheel clicks makes one click of it, while an agent that scrolls by pixels moves 48 of them.
    static constexpr int unitsPerPixel = 8;
    static constexpr int notch = 48 * unitsPerPixel;

    uint8_t displayId = 0;
    int32_t x = 0; // 16.16
    int32_t y = 0; // 16.16
    int16_t dx = 0;
    int16_t dy = 0;
    uint8_t phase = 0;

    bool operator==(const ScrollEvent&) const = default;
};

struct KeyEvent {
    static constexpr InputEventType eventType = InputEventType::key;
    static constexpr std::size_t bodySize = 7;
    static constexpr uint16_t keyboardUsagePage = 7;
    // Bits of `modifiers`.
    static constexpr uint16_t shift = 0x1;
    static constexpr uint16_t control = 0x2;
    static constexpr uint16_t option = 0x4;
    static constexpr uint16_t command = 0x8;

    // The eight modifier keys of the keyboard page: left control, shift, alt and GUI, then the same on
    // the right.
    static constexpr bool isModifierUsage(uint16_t usageId) { return usageId >= 0xE0 && usageId <= 0xE7; }
    // The bit of `modifiers` a modifier key stands for, left and right alike; 0 for any other key.
    static constexpr uint16_t modifierBitOf(uint16_t usageId) {
        constexpr uint16_t bits[] = {control, shift, option, command};
        return isModifierUsage(usageId) ? bits[(usageId - 0xE0) % 4] : 0;
    }

    uint32_t usage = 0; // USB HID usage: page in the upper 16 bits, usage ID in the lower 16
    uint8_t state = 0;  // non-zero is a press
    uint16_t modifiers = 0;

    static constexpr uint32_t makeUsage(uint16_t page, uint16_t id) { return uint32_t{page} << 16 | id; }
    uint16_t usagePage() const { return static_cast<uint16_t>(usage >> 16); }
    uint16_t usageId() const { return static_cast<uint16_t>(usage); }
    bool pressed() const { return state != 0; }
    bool operator==(const KeyEvent&) const = default;
};

// Text typed as a whole (a string body: u16 count, then UTF-8).
struct TextEvent {
    static constexpr InputEventType eventType = InputEventType::text;
    static constexpr std::size_t maxBytes = 65535;

    std::string text; // written cut at a character boundary past maxBytes; InputBatch::split avoids that

    bool operator==(const TextEvent&) const = default;
};

// A pen sample, a fixed 24-byte record.
struct PenEvent {
    static constexpr InputEventType eventType = InputEventType::pen;
    static constexpr std::size_t bodySize = 24;
    static constexpr int16_t fullTilt = 9000;

    uint8_t displayId = 0;
    int32_t x = 0;         // 16.16
    int32_t y = 0;         // 16.16
    uint16_t pressure = 0; // 0 none to 65535 full
    int16_t tiltX = 0;     // -9000 to 9000
    int16_t tiltY = 0;
    uint16_t twist = 0;
    PenContact contact = PenContact::hover;
    PenButtons buttons;
    PenFlags flags; // which of pressure, tilt and twist are valid; eraser end down
    uint32_t tstampUs = 0;

    void encode(ByteWriter& w) const;
    // Checks the contact byte as soon as it is read: above 2 is badEnum("PenContact", byte).
    static PenEvent decode(ByteReader& r);
    bool operator==(const PenEvent&) const = default;
};

// One event of any type.
struct InputEvent {
    using Body =
        std::variant<MouseMoveEvent, MouseButtonEvent, MouseDragEvent, ScrollEvent, KeyEvent, PenEvent, TextEvent>;
    Body body;

    InputEvent() = default;
    template <typename T>
    requires std::constructible_from<Body, T&&> InputEvent(T&& event) : body(std::forward<T>(event)) {}

    InputEventType type() const;
    // The body's bytes on the wire (a text body as written, that is cut past 65535 bytes).
    std::size_t bodySize() const;
    template <typename T> const T* get() const { return std::get_if<T>(&body); }

    // Appends the body only, not the type or flags.
    void encodeBody(ByteWriter& w) const;
    // Reads a body of `type`; gesture is badEnum("InputEventType.gesture (not yet implemented)", 8).
    static InputEvent decodeBody(InputEventType type, ByteReader& r);

    bool operator==(const InputEvent&) const = default;
};

// The input stream's payload: up to 255 events, each with its flags, delivered all or nothing.
struct InputBatch {
    struct Entry {
        EventFlags flags;
        InputEvent event;
        bool operator==(const Entry&) const = default;
    };
    static constexpr std::size_t maxEvents = 255;

    std::vector<Entry> events;

    // Throws std::length_error for more than 255 events: the count byte would wrap and the receiver
    // would drop the rest. Long input goes through split().
    Bytes encode() const;
    // Fails with truncated, or badEnum for an unknown type ("InputEventType"), a gesture or a bad contact.
    static InputBatch decode(ByteView payload);

    // Cuts an event list, in order, into batches of at most 255 events whose payloads fit
    // `maxPayloadBytes` (at least 32 is used). A text event too long for one batch becomes several text
    // events, cut between characters, with the same flags. No events give no batches.
    static std::vector<InputBatch> split(std::span<const Entry> events,
                                         std::size_t maxPayloadBytes = maxSealablePayload);

    bool operator==(const InputBatch&) const = default;
};

} // namespace wex
