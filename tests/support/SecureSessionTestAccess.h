#pragma once

#include <cstdint>
#include <memory>

#include "protocol/SecureSession.h"

namespace wex {

// Test-only access to a session's sealing with a chosen sequence number, its send counter and its
// replay windows: for byte-exact vectors, fuzzing and running a stream to the end of its numbers; and a
// copy of a session, for a benchmark that opens a stream twice.
// Program code never includes this; it seals with `sealNext`, which hands each number out once.
class SecureSessionTestAccess {
public:
    static Bytes sealFrame(const SecureSession& session, Stream stream, uint8_t msgType, uint32_t sessionId,
                           uint32_t seq, uint32_t sendTsUs, ByteView plaintext, HeaderFlags extraFlags = {}) {
        return session.sealFrame(stream, msgType, sessionId, seq, sendTsUs, plaintext, extraFlags);
    }
    static void skipSeqTo(SecureSession& session, Stream stream, uint32_t next) { session.skipSeqTo(stream, next); }
    static bool acceptSeq(SecureSession& session, Stream stream, uint32_t seq) {
        return session.acceptSeq(stream, seq);
    }
    // A second session with the same keys and direction whose windows start empty: it opens what the
    // first one opens, so a benchmark can open the same frames a second time.
    static std::unique_ptr<SecureSession> copy(const SecureSession& session) {
        return std::make_unique<SecureSession>(session.keys_, session.sending_);
    }
};

} // namespace wex
