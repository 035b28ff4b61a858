#include "protocol/SecureSession.h"

#include <algorithm>

#include "protocol/WEXError.h"

namespace wex {

namespace {

constexpr std::size_t aadSize = CommonHeader::size + SeqTimingHeader::size;

void putU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint32_t getU32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

} // namespace

SecureSession::SecureSession(SessionKeys keys, Direction sending) : keys_(std::move(keys)), sending_(sending) {
    Crypto::ensureInitialized();
}

Bytes SecureSession::sealFrame(Stream stream, uint8_t msgType, uint32_t sessionId, uint32_t seq, uint32_t sendTsUs,
                               ByteView plaintext, HeaderFlags extraFlags) const {
    if (plaintext.size() > maxPlaintext) return {};
    const std::size_t n = plaintext.size();
    HeaderFlags flags = extraFlags;
    flags.insert(HeaderFlag::encryptedApp);
    const CommonHeader header{stream, msgType, sessionId, static_cast<uint16_t>(n + SeqTimingHeader::size), flags};

    Bytes out(overhead + n);
    const Bytes head = header.encoded();
    std::copy(head.begin(), head.end(), out.begin());
    putU32(&out[CommonHeader::size], seq);
    putU32(&out[CommonHeader::size + 4], sendTsUs);

    const WEXNonce nonce = wexNonce(sending_, stream, seq);
    Crypto::aeadSeal(out.data() + aadSize, out.data() + aadSize + n, plaintext, ByteView(out.data(), aadSize),
                     nonce.data(), keys_.forDirection(sending_).data());
    return out;
}

std::optional<uint32_t> SecureSession::nextSeq(Stream stream) {
    // A 64-bit counter cannot itself wrap in any real session, so every caller after the last number
    // keeps getting nothing.
    const uint64_t n = nextSeq_[index(stream)].fetch_add(1, std::memory_order_relaxed);
    if (n > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(n);
}

bool SecureSession::sendExhausted(Stream stream) const {
    return nextSeq_[index(stream)].load(std::memory_order_relaxed) > UINT32_MAX;
}

void SecureSession::skipSeqTo(Stream stream, uint32_t next) {
    auto& counter = nextSeq_[index(stream)];
    uint64_t current = counter.load(std::memory_order_relaxed);
    while (current < next && !counter.compare_exchange_weak(current, next, std::memory_order_relaxed)) {
    }
}

Bytes SecureSession::sealNext(Stream stream, uint8_t msgType, uint32_t sessionId, uint32_t sendTsUs, ByteView plaintext,
                              HeaderFlags extraFlags) {
    if (plaintext.size() > maxPlaintext) return {};
    const auto seq = nextSeq(stream);
    if (!seq) return {};
    return sealFrame(stream, msgType, sessionId, *seq, sendTsUs, plaintext, extraFlags);
}

std::optional<OpenedFrame> SecureSession::openFrame(ByteView frame) {
    // Nothing shorter than an empty sealed frame can open; checking first spares junk a thrown error.
    if (frame.size() < overhead) return std::nullopt;
    CommonHeader header;
    try {
        header = CommonHeader::decode(frame);
    } catch (const WEXError&) {
        return std::nullopt;
    }
    if (!header.flags.contains(HeaderFlag::encryptedApp)) return std::nullopt;
    if (header.length < SeqTimingHeader::size) return std::nullopt;
    if (frame.size() < std::size_t{header.length} + CommonHeader::size + tagSize) return std::nullopt;

    const uint32_t seq = getU32(&frame[CommonHeader::size]);
    const std::size_t n = header.length - SeqTimingHeader::size;
    const ByteView ciphertext = frame.subspan(aadSize, n);
    const uint8_t* tag = frame.data() + aadSize + n;

    const Direction from = flipped(sending_);
    const WEXNonce nonce = wexNonce(from, header.stream, seq);
    Bytes plaintext(n);
    if (!Crypto::aeadOpen(plaintext.data(), ciphertext, tag, frame.first(aadSize), nonce.data(),
                          keys_.forDirection(from).data()))
        return std::nullopt;
    // Only an authentic frame may move the window, so forgeries cannot push real frames out of it.
    if (!acceptSeq(header.stream, seq)) return std::nullopt;
    return OpenedFrame{header, seq, std::move(plaintext)};
}

bool SecureSession::acceptSeq(Stream stream, uint32_t seq) {
    GuardedWindow& w = windows_[index(stream)];
    const std::lock_guard guard(w.lock);
    return w.window.accept(seq);
}

} // namespace wex
