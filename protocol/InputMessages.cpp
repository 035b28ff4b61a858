#include "protocol/InputMessages.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "protocol/UTF8.h"
#include "protocol/WEXError.h"

namespace wex {

namespace {

constexpr std::size_t entryHeaderSize = 2; // type and flags
constexpr std::size_t minSplitPayload = 32;

std::size_t textWireBytes(const std::string& text) { return utf8PrefixLength(text, TextEvent::maxBytes); }

template <InputEventType T> void encodePointer(const PointerEvent<T>& e, ByteWriter& w) {
    w.u8(e.displayId);
    w.i32(e.x);
    w.i32(e.y);
    w.u8(e.buttons);
}

template <InputEventType T> PointerEvent<T> decodePointer(ByteReader& r) {
    PointerEvent<T> e;
    e.displayId = r.u8();
    e.x = r.i32();
    e.y = r.i32();
    e.buttons = r.u8();
    return e;
}

struct BodyWriter {
    ByteWriter& w;
    void operator()(const MouseMoveEvent& e) const { encodePointer(e, w); }
    void operator()(const MouseDragEvent& e) const { encodePointer(e, w); }
    void operator()(const MouseButtonEvent& e) const {
        w.u8(e.displayId);
        w.i32(e.x);
        w.i32(e.y);
        w.u8(e.button);
        w.u8(e.state);
        w.u8(e.clickCount);
    }
    void operator()(const ScrollEvent& e) const {
        w.u8(e.displayId);
        w.i32(e.x);
        w.i32(e.y);
        w.i16(e.dx);
        w.i16(e.dy);
        w.u8(e.phase);
    }
    void operator()(const KeyEvent& e) const {
        w.u32(e.usage);
        w.u8(e.state);
        w.u16(e.modifiers);
    }
    void operator()(const PenEvent& e) const { e.encode(w); }
    void operator()(const TextEvent& e) const { w.string(e.text); }
};

std::size_t entrySize(const InputBatch::Entry& e) { return entryHeaderSize + e.event.bodySize(); }

} // namespace

std::optional<InputEventType> inputEventTypeFromRaw(uint8_t raw) {
    if (raw >= 1 && raw <= 8) return static_cast<InputEventType>(raw);
    return std::nullopt;
}

std::optional<PenContact> penContactFromRaw(uint8_t raw) {
    if (raw <= 2) return static_cast<PenContact>(raw);
    return std::nullopt;
}

void PenEvent::encode(ByteWriter& w) const {
    w.u8(displayId);
    w.i32(x);
    w.i32(y);
    w.u16(pressure);
    w.i16(tiltX);
    w.i16(tiltY);
    w.u16(twist);
    w.u8(static_cast<uint8_t>(contact));
    w.u8(buttons.rawValue);
    w.u8(flags.rawValue);
    w.u32(tstampUs);
}

PenEvent PenEvent::decode(ByteReader& r) {
    PenEvent e;
    e.displayId = r.u8();
    e.x = r.i32();
    e.y = r.i32();
    e.pressure = r.u16();
    e.tiltX = r.i16();
    e.tiltY = r.i16();
    e.twist = r.u16();
    const uint8_t contact = r.u8();
    const auto c = penContactFromRaw(contact);
    if (!c) throw WEXError::badEnum("PenContact", contact);
    e.contact = *c;
    e.buttons = PenButtons::fromRaw(r.u8());
    e.flags = PenFlags::fromRaw(r.u8());
    e.tstampUs = r.u32();
    return e;
}

InputEventType InputEvent::type() const {
    return std::visit([](const auto& e) { return std::decay_t<decltype(e)>::eventType; }, body);
}

std::size_t InputEvent::bodySize() const {
    return std::visit(
        [](const auto& e) -> std::size_t {
            using T = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<T, TextEvent>)
                return 2 + textWireBytes(e.text);
            else
                return T::bodySize;
        },
        body);
}

void InputEvent::encodeBody(ByteWriter& w) const { std::visit(BodyWriter{w}, body); }

InputEvent InputEvent::decodeBody(InputEventType type, ByteReader& r) {
    switch (type) {
    case InputEventType::mouseMove: return decodePointer<InputEventType::mouseMove>(r);
    case InputEventType::mouseDrag: return decodePointer<InputEventType::mouseDrag>(r);
    case InputEventType::mouseButton: {
        MouseButtonEvent e;
        e.displayId = r.u8();
        e.x = r.i32();
        e.y = r.i32();
        e.button = r.u8();
        e.state = r.u8();
        e.clickCount = r.u8();
        return e;
    }
    case InputEventType::scroll: {
        ScrollEvent e;
        e.displayId = r.u8();
        e.x = r.i32();
        e.y = r.i32();
        e.dx = r.i16();
        e.dy = r.i16();
        e.phase = r.u8();
        return e;
    }
    case InputEventType::key: {
        KeyEvent e;
        e.usage = r.u32();
        e.state = r.u8();
        e.modifiers = r.u16();
        return e;
    }
    case InputEventType::pen: return PenEvent::decode(r);
    case InputEventType::text: return TextEvent{r.string()};
    case InputEventType::gesture: break;
    }
    throw WEXError::badEnum("InputEventType.gesture (not yet implemented)", static_cast<uint8_t>(type));
}

Bytes InputBatch::encode() const {
    if (events.size() > maxEvents) {
        throw std::length_error("input batch of " + std::to_string(events.size()) +
                                " events; one batch holds at most 255, use InputBatch::split");
    }
    std::size_t total = 1;
    for (const auto& e : events)
        total += entrySize(e);
    ByteWriter w(static_cast<int64_t>(total));
    w.u8(static_cast<uint8_t>(events.size()));
    const BodyWriter body{w};
    for (const auto& e : events) {
        w.u8(static_cast<uint8_t>(e.event.type()));
        w.u8(e.flags.rawValue);
        std::visit(body, e.event.body);
    }
    return std::move(w.bytes);
}

InputBatch InputBatch::decode(ByteView payload) {
    ByteReader r(payload);
    InputBatch b;
    const uint8_t count = r.u8();
    // The smallest event (an empty text) takes 4 bytes, which bounds what is worth reserving.
    b.events.reserve(std::min<std::size_t>(count, static_cast<std::size_t>(r.remaining()) / 4));
    for (uint8_t i = 0; i < count; ++i) {
        // Both bytes must be there before the type is judged.
        const uint8_t rawType = r.u8();
        const uint8_t flags = r.u8();
        const auto type = inputEventTypeFromRaw(rawType);
        if (!type) throw WEXError::badEnum("InputEventType", rawType);
        b.events.push_back({EventFlags::fromRaw(flags), InputEvent::decodeBody(*type, r)});
    }
    return b;
}

std::vector<InputBatch> InputBatch::split(std::span<const Entry> events, std::size_t maxPayloadBytes) {
    const std::size_t limit = std::max(maxPayloadBytes, minSplitPayload);
    // The most text one event may carry and still fit a batch on its own.
    const std::size_t textLimit = std::min(TextEvent::maxBytes, limit - 1 - entryHeaderSize - 2);

    std::vector<InputBatch> batches;
    InputBatch current;
    std::size_t size = 1;
    const auto add = [&](Entry entry) {
        const std::size_t n = entrySize(entry);
        if (!current.events.empty() && (current.events.size() == maxEvents || size + n > limit)) {
            batches.push_back(std::move(current));
            current = InputBatch{};
            size = 1;
        }
        size += n;
        current.events.push_back(std::move(entry));
    };

    for (const Entry& e : events) {
        const TextEvent* text = e.event.get<TextEvent>();
        if (!text || text->text.size() <= textLimit) {
            add(e);
            continue;
        }
        std::string_view rest = text->text;
        while (!rest.empty()) {
            // A prefix is never empty: a character is at most 4 bytes and textLimit is far above that.
            const std::size_t n = std::max<std::size_t>(1, utf8PrefixLength(rest, textLimit));
            add({e.flags, TextEvent{std::string(rest.substr(0, n))}});
            rest.remove_prefix(n);
        }
    }
    if (!current.events.empty()) batches.push_back(std::move(current));
    return batches;
}

} // namespace wex
