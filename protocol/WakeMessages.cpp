#include "protocol/WakeMessages.h"

#include <algorithm>

#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"
#include "protocol/UTF8.h"
#include "protocol/WEXError.h"

namespace wex {

namespace {

// Wake texts keep their own byte cuts, made without regard to character boundaries.
void writeCutString(ByteWriter& w, const std::string& text, std::size_t maxBytes) {
    const std::size_t n = std::min(text.size(), maxBytes);
    w.u16(static_cast<uint16_t>(n));
    w.raw(ByteView(reinterpret_cast<const uint8_t*>(text.data()), n));
}

// A string field cut to `maxBytes` before its UTF-8 is repaired, just as the writer cuts it.
std::string readCutString(ByteReader& r, std::size_t maxBytes) {
    const uint16_t n = r.u16();
    const Bytes raw = r.take(n);
    return repairUTF8(ByteView(raw.data(), std::min<std::size_t>(raw.size(), maxBytes)));
}

void expectVersion(ByteReader& r, uint8_t expected, const char* field) {
    const uint8_t v = r.u8();
    if (v != expected) throw WEXError::badEnum(field, v);
}

} // namespace

Bytes WakePeerRequest::encode() const {
    ByteWriter w(16 + maxNameBytes);
    w.u16(reqId);
    w.u8(version);
    w.raw(mac);
    w.u32(ipv4);
    w.u8(flags);
    writeCutString(w, name, maxNameBytes);
    return std::move(w.bytes);
}

WakePeerRequest WakePeerRequest::decode(ByteView payload) {
    ByteReader r(payload);
    WakePeerRequest m;
    m.reqId = r.u16();
    expectVersion(r, version, "WakePeerRequest.version");
    const Bytes mac = r.take(6);
    std::copy(mac.begin(), mac.end(), m.mac.begin());
    m.ipv4 = r.u32();
    m.flags = r.u8();
    // A peer may send more than the message allows; what is kept is what this side would have sent.
    m.name = readCutString(r, maxNameBytes);
    return m;
}

std::optional<WakePeerAck::Status> WakePeerAck::statusCase() const {
    if (status <= static_cast<uint8_t>(Status::badRequest)) return static_cast<Status>(status);
    return std::nullopt;
}

std::string WakePeerAck::humanReason() const {
    if (!detail.empty()) return detail;
    const auto s = statusCase();
    if (!s) return "That machine answered in a way this app doesn't understand yet.";
    switch (*s) {
    case Status::sent:
        if (interfaces == 1) return "Wake signal sent.";
        return "Wake signal sent on " + std::to_string(interfaces) + " networks.";
    case Status::noRoute: return "That machine isn't on this one's network.";
    case Status::sendFailed: return "Couldn't send the wake signal.";
    case Status::throttled: return "Too many wake attempts \u2014 wait a moment.";
    case Status::badRequest: return "That machine has no usable hardware address.";
    }
    return "That machine answered in a way this app doesn't understand yet.";
}

Bytes WakePeerAck::encode() const {
    ByteWriter w(7 + maxDetailBytes);
    w.u16(reqId);
    w.u8(version);
    w.u8(status);
    w.u8(interfaces);
    writeCutString(w, detail, maxDetailBytes);
    return std::move(w.bytes);
}

WakePeerAck WakePeerAck::decode(ByteView payload) {
    ByteReader r(payload);
    WakePeerAck m;
    m.reqId = r.u16();
    expectVersion(r, version, "WakePeerAck.version");
    m.status = r.u8();
    m.interfaces = r.u8();
    m.detail = readCutString(r, maxDetailBytes);
    return m;
}

} // namespace wex
