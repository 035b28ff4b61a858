#include "protocol/ControlMessages.h"

#include <algorithm>

#include "protocol/UTF8.h"
#include "protocol/WEXError.h"

namespace wex {

namespace {

constexpr int64_t smallReserve = 64;

} // namespace

Bytes Ping::encode() const {
    ByteWriter w(size);
    w.u16(reqId);
    w.u64(clientTsUs);
    return std::move(w.bytes);
}

Ping Ping::decode(ByteView payload) {
    ByteReader r(payload);
    Ping m;
    m.reqId = r.u16();
    m.clientTsUs = r.u64();
    return m;
}

Bytes Pong::encode() const {
    ByteWriter w(size);
    w.u16(reqId);
    w.u64(clientTsUs);
    w.u64(agentTsUs);
    return std::move(w.bytes);
}

Pong Pong::decode(ByteView payload) {
    ByteReader r(payload);
    Pong m;
    m.reqId = r.u16();
    m.clientTsUs = r.u64();
    m.agentTsUs = r.u64();
    return m;
}

Bytes StreamStart::encode() const {
    ByteWriter w(size);
    w.u16(reqId);
    w.u8(displayId);
    return std::move(w.bytes);
}

StreamStart StreamStart::decode(ByteView payload) {
    ByteReader r(payload);
    StreamStart m;
    m.reqId = r.u16();
    m.displayId = r.u8();
    return m;
}

Bytes KeyframeRequest::encode() const {
    ByteWriter w(size);
    w.u16(reqId);
    w.u8(displayId);
    return std::move(w.bytes);
}

KeyframeRequest KeyframeRequest::decode(ByteView payload) {
    ByteReader r(payload);
    KeyframeRequest m;
    m.reqId = r.u16();
    m.displayId = r.u8();
    return m;
}

Bytes SessionCommand::encode() const {
    ByteWriter w(size);
    w.u16(reqId);
    w.u8(cmd);
    w.u8(arg);
    return std::move(w.bytes);
}

SessionCommand SessionCommand::decode(ByteView payload) {
    ByteReader r(payload);
    SessionCommand m;
    m.reqId = r.u16();
    m.cmd = r.u8();
    m.arg = r.u8();
    return m;
}

Bytes CursorMsg::encode() const {
    ByteWriter w(static_cast<int64_t>(fixedSize + shape.size()));
    w.u16(reqId);
    w.u8(displayId);
    w.u8(flags.rawValue);
    w.i32(x);
    w.i32(y);
    w.u16(hotX);
    w.u16(hotY);
    w.u16(shapeW);
    w.u16(shapeH);
    w.raw(shape);
    return std::move(w.bytes);
}

CursorMsg CursorMsg::decode(ByteView payload) {
    ByteReader r(payload);
    CursorMsg m;
    m.reqId = r.u16();
    m.displayId = r.u8();
    m.flags = CursorFlags::fromRaw(r.u8());
    m.x = r.i32();
    m.y = r.i32();
    m.hotX = r.u16();
    m.hotY = r.u16();
    m.shapeW = r.u16();
    m.shapeH = r.u16();
    if (m.flags.contains(CursorFlag::shapeIncluded)) {
        // 65535 x 65535 x 4 overflows 32 bits; the announced size is believed only once its bytes are here.
        const uint64_t n = shapeBytes(m.shapeW, m.shapeH);
        if (n > static_cast<uint64_t>(r.remaining())) throw WEXError::truncated();
        m.shape = r.take(static_cast<int64_t>(n));
    }
    return m;
}

void DisplayInfo::encode(ByteWriter& w) const {
    w.u8(displayId);
    w.u16(width);
    w.u16(height);
    w.i16(originX);
    w.i16(originY);
    w.u8(flags.rawValue);
    w.string(name);
}

DisplayInfo DisplayInfo::decode(ByteReader& r) {
    DisplayInfo d;
    d.displayId = r.u8();
    d.width = r.u16();
    d.height = r.u16();
    d.originX = r.i16();
    d.originY = r.i16();
    d.flags = DisplayFlags::fromRaw(r.u8());
    d.name = r.string();
    return d;
}

Bytes DisplayList::encode() const {
    const std::size_t n = std::min(displays.size(), maxDisplays);
    ByteWriter w(smallReserve);
    w.u16(reqId);
    w.u8(static_cast<uint8_t>(n));
    for (std::size_t i = 0; i < n; ++i)
        displays[i].encode(w);
    return std::move(w.bytes);
}

DisplayList DisplayList::decode(ByteView payload) {
    ByteReader r(payload);
    DisplayList m;
    m.reqId = r.u16();
    const uint8_t count = r.u8();
    // A record takes at least 12 bytes, which bounds what is worth reserving.
    m.displays.reserve(std::min<std::size_t>(count, static_cast<std::size_t>(r.remaining()) / 12));
    for (uint8_t i = 0; i < count; ++i)
        m.displays.push_back(DisplayInfo::decode(r));
    return m;
}

std::optional<ClipboardFormat> clipboardFormatFromRaw(uint8_t raw) {
    if (raw == 1) return ClipboardFormat::text;
    return std::nullopt;
}

Clipboard::Clipboard(uint16_t id, std::string_view utf8)
    : reqId(id), format(static_cast<uint8_t>(ClipboardFormat::text)), data(utf8.begin(), utf8.end()) {}

std::string Clipboard::text() const { return repairUTF8(ByteView(data)); }

Bytes Clipboard::encode() const {
    ByteWriter w(static_cast<int64_t>(7 + data.size()));
    w.u16(reqId);
    w.u8(format);
    w.blob(data);
    return std::move(w.bytes);
}

Clipboard Clipboard::decode(ByteView payload) {
    ByteReader r(payload);
    Clipboard m;
    m.reqId = r.u16();
    m.format = r.u8();
    m.data = r.blob();
    return m;
}

Bytes DeckStat::encode() const {
    ByteWriter w(size);
    w.u16(reqId);
    w.u8(cpu);
    w.u8(ram);
    w.u8(static_cast<uint8_t>(battery));
    w.u8(flags);
    return std::move(w.bytes);
}

DeckStat DeckStat::decode(ByteView payload) {
    ByteReader r(payload);
    DeckStat m;
    m.reqId = r.u16();
    m.cpu = r.u8();
    m.ram = r.u8();
    m.battery = static_cast<int8_t>(r.u8());
    m.flags = r.u8();
    return m;
}

std::string ErrorMsg::humanReason() const {
    if (!message.empty()) return message;
    switch (code) {
    case static_cast<uint8_t>(ErrCode::unsupported): return "That machine doesn't support this.";
    case static_cast<uint8_t>(ErrCode::disabled): return "That's turned off on that machine.";
    case static_cast<uint8_t>(ErrCode::internalError): return "Something went wrong on that machine.";
    default: return "That machine refused it.";
    }
}

Bytes ErrorMsg::encode() const {
    ByteWriter w(smallReserve);
    w.u16(reqId);
    w.u8(code);
    w.string(message);
    return std::move(w.bytes);
}

ErrorMsg ErrorMsg::decode(ByteView payload) {
    ByteReader r(payload);
    ErrorMsg m;
    m.reqId = r.u16();
    m.code = r.u8();
    m.message = r.string();
    return m;
}

} // namespace wex
