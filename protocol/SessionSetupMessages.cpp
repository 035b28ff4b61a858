#include "protocol/SessionSetupMessages.h"

#include <algorithm>

#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"
#include "protocol/WEXError.h"

namespace wex {

namespace {

template <std::size_t N> FixedBytes<N> readFixed(ByteReader& r) {
    const Bytes b = r.take(N);
    FixedBytes<N> out{};
    std::copy(b.begin(), b.end(), out.begin());
    return out;
}

AuthMode checkedAuthMode(uint8_t raw) {
    const auto mode = authModeFromRaw(raw);
    if (!mode) throw WEXError::badEnum("AuthMode", raw);
    return *mode;
}

} // namespace

std::optional<AuthMode> authModeFromRaw(uint8_t raw) {
    if (raw < 1 || raw > 2) return std::nullopt;
    return static_cast<AuthMode>(raw);
}

std::optional<AuthFailReason> authFailReasonFromRaw(uint8_t raw) {
    if (raw < 1 || raw > 6) return std::nullopt;
    return static_cast<AuthFailReason>(raw);
}

Bytes Hello::encode() const {
    ByteWriter w(static_cast<int64_t>(fixedSize + deviceName.size() + 4));
    w.u16(reqId);
    w.u8(protoMin);
    w.u8(protoMax);
    w.raw(deviceId);
    w.raw(staticPub);
    w.raw(ephPub);
    w.u8(static_cast<uint8_t>(authMode));
    w.string(deviceName);
    if (capabilitiesPresent) w.u32(capabilities);
    return std::move(w.bytes);
}

Hello Hello::decode(ByteView payload) {
    ByteReader r(payload);
    Hello m;
    m.reqId = r.u16();
    m.protoMin = r.u8();
    m.protoMax = r.u8();
    m.deviceId = readFixed<16>(r);
    m.staticPub = readFixed<32>(r);
    m.ephPub = readFixed<32>(r);
    const uint8_t mode = r.u8();
    m.deviceName = r.string();
    m.authMode = checkedAuthMode(mode);
    m.capabilitiesPresent = r.remaining() >= 4;
    m.capabilities = m.capabilitiesPresent ? r.u32() : Cap::assumedWhenAbsent;
    return m;
}

Bytes HelloAck::encode() const {
    ByteWriter w(static_cast<int64_t>(fixedSize + 4));
    w.u16(reqId);
    w.u8(protoSelected);
    w.raw(deviceId);
    w.raw(staticPub);
    w.raw(ephPub);
    w.raw(challenge);
    w.u64(agentTimeUs);
    w.raw(chanbind);
    if (capabilitiesPresent) w.u32(capabilities);
    return std::move(w.bytes);
}

HelloAck HelloAck::decode(ByteView payload) {
    ByteReader r(payload);
    HelloAck m;
    m.reqId = r.u16();
    m.protoSelected = r.u8();
    m.deviceId = readFixed<16>(r);
    m.staticPub = readFixed<32>(r);
    m.ephPub = readFixed<32>(r);
    m.challenge = readFixed<24>(r);
    m.agentTimeUs = r.u64();
    m.chanbind = readFixed<32>(r);
    m.capabilitiesPresent = r.remaining() >= 4;
    m.capabilities = m.capabilitiesPresent ? r.u32() : 0;
    return m;
}

Bytes Auth::encode() const {
    ByteWriter w(size);
    w.u16(reqId);
    w.u8(static_cast<uint8_t>(authMode));
    w.raw(proof);
    w.raw(clientNonce);
    return std::move(w.bytes);
}

Auth Auth::decode(ByteView payload) {
    ByteReader r(payload);
    Auth m;
    m.reqId = r.u16();
    const uint8_t mode = r.u8();
    m.proof = readFixed<64>(r);
    m.clientNonce = readFixed<24>(r);
    m.authMode = checkedAuthMode(mode);
    return m;
}

Bytes AuthOk::encode() const {
    ByteWriter w(size);
    w.u16(reqId);
    w.u32(sessionId);
    w.raw(agentProof);
    w.u32(resumeToken);
    w.u16(heartbeatMs);
    w.u16(idleTimeoutMs);
    return std::move(w.bytes);
}

AuthOk AuthOk::decode(ByteView payload) {
    ByteReader r(payload);
    AuthOk m;
    m.reqId = r.u16();
    m.sessionId = r.u32();
    m.agentProof = readFixed<64>(r);
    m.resumeToken = r.u32();
    m.heartbeatMs = r.u16();
    m.idleTimeoutMs = r.u16();
    return m;
}

Bytes AuthFail::encode() const {
    ByteWriter w(static_cast<int64_t>(5 + message.size()));
    w.u16(reqId);
    w.u8(static_cast<uint8_t>(reason));
    w.string(message);
    return std::move(w.bytes);
}

AuthFail AuthFail::decode(ByteView payload) {
    ByteReader r(payload);
    AuthFail m;
    m.reqId = r.u16();
    const uint8_t rawReason = r.u8();
    m.message = r.string();
    const auto known = authFailReasonFromRaw(rawReason);
    if (!known) throw WEXError::badEnum("AuthFailReason", rawReason);
    m.reason = *known;
    return m;
}

} // namespace wex
