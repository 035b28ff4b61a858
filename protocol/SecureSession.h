#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>

#include "protocol/Bytes.h"
#include "protocol/CommonHeader.h"
#include "protocol/ReplayWindow.h"
#include "protocol/SessionKeys.h"
#include "protocol/Stream.h"
#include "protocol/WEXConstants.h"

namespace wex {

// What `openFrame` yields: the header as it arrived, the frame's sequence number and the plaintext.
struct OpenedFrame {
    CommonHeader header;
    uint32_t seq = 0;
    Bytes plaintext;
    bool operator==(const OpenedFrame&) const = default;
};

// Seals and opens the frames of one authenticated session, on all four streams. One object per
// session, shared by reference between the threads that send and receive; a new session gets a new
// object, so its sequence numbers and replay windows start afresh.
//
// Sealed frame: common header (flags with encryptedApp), seq and send time (u32 each), ciphertext,
// 16-byte tag. The first 20 bytes are the associated data; the nonce is wexNonce(sender, stream, seq).
class SecureSession {
public:
    static constexpr std::size_t tagSize = Crypto::aeadTagSize;
    static constexpr std::size_t maxPlaintext = maxFramePayload - SeqTimingHeader::size;          // 65527
    static constexpr std::size_t overhead = CommonHeader::size + SeqTimingHeader::size + tagSize; // 36

    SecureSession(SessionKeys keys, Direction sending);
    SecureSession(const SecureSession&) = delete;
    SecureSession& operator=(const SecureSession&) = delete;

    Direction sendDirection() const { return sending_; }

    // The stream's next sequence number: 0 first, each number handed out once even when threads race.
    // Nothing once 0xFFFFFFFF has been handed out: the stream is exhausted and the session must end,
    // because the peer's window does not wrap and a repeated number would repeat a nonce.
    std::optional<uint32_t> nextSeq(Stream stream);
    bool sendExhausted(Stream stream) const;

    // Seals with the stream's next sequence number. Empty when the plaintext is too long (no number is
    // used up) or the stream is exhausted (`sendExhausted` then says so).
    Bytes sealNext(Stream stream, uint8_t msgType, uint32_t sessionId, uint32_t sendTsUs, ByteView plaintext,
                   HeaderFlags extraFlags = {});

    // Opens one frame sealed by the other side; bytes after the frame are ignored. Nothing for a bad
    // header, a frame without encryptedApp, a short frame, a tag that does not verify or a sequence
    // number already seen or too old. Only a frame that authenticates moves its stream's window.
    std::optional<OpenedFrame> openFrame(ByteView frame);

private:
    // Byte-exact vectors, fuzzing and counter-exhaustion tests reach the three members below through
    // this peer (tests/support/SecureSessionTestAccess.h); no program code may, because a sequence number
    // chosen by the caller can repeat a nonce.
    friend class SecureSessionTestAccess;

    // The whole sealed frame with the caller's sequence number; empty when the plaintext is longer than
    // maxPlaintext. Touches no state, so any thread may seal at any time. A caller that picks its own
    // numbers must never repeat one on a stream: programs use `sealNext`.
    Bytes sealFrame(Stream stream, uint8_t msgType, uint32_t sessionId, uint32_t seq, uint32_t sendTsUs,
                    ByteView plaintext, HeaderFlags extraFlags = {}) const;

    // Moves the stream's counter forward so that the next number is at least `next`; never moves it back,
    // so no number can be handed out twice.
    void skipSeqTo(Stream stream, uint32_t next);

    // Records the sequence number in the stream's window; false when it was seen or is too old.
    bool acceptSeq(Stream stream, uint32_t seq);

    struct GuardedWindow {
        std::mutex lock;
        ReplayWindow window;
    };
    static std::size_t index(Stream s) { return static_cast<std::size_t>(s) - 1; }

    const SessionKeys keys_;
    const Direction sending_;
    // 64-bit so that counting past 0xFFFFFFFF is detected instead of wrapping back to 0.
    std::array<std::atomic<uint64_t>, 4> nextSeq_{};
    // One lock per stream: frames of different streams opened on different threads never contend.
    std::array<GuardedWindow, 4> windows_;
};

} // namespace wex
