#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/Bytes.h"
#include "protocol/CommonHeader.h"

namespace wex {

// One frame cut out of a byte stream: its header and all of its bytes (header, payload and, when
// sealed, the 16-byte tag).
struct StreamFrame {
    CommonHeader header;
    Bytes bytes;

    bool sealed() const { return header.flags.contains(HeaderFlag::encryptedApp); }
    // The header's length of bytes after the header: the plain payload, or seq header and ciphertext.
    ByteView payload() const { return ByteView(bytes).subspan(CommonHeader::size, header.length); }
};

// Cuts WEX/1 frames back out of a byte stream (a control connection, a relay stream). Frames follow one
// another without gaps; a header that does not decode (magic, version, CRC-8, stream) costs one byte, so
// the reader slides forward until a valid header begins; that is also how a relay's reply left in front
// of the first frame is passed over. Bytes of one frame may arrive over many reads. Consumed bytes are
// skipped with an offset and compacted away in bulk, so garbage costs time linear in its length. One
// framer per connection: bytes of two connections never meet in one buffer. Reads bytes from the
// network before any authentication, so nothing here trusts them.
class StreamFramer {
public:
    void append(ByteView bytes);
    // The next complete frame, or nothing until more bytes arrive.
    std::optional<StreamFrame> next();
    void clear();
    // Bytes held that are not yet part of a delivered frame.
    std::size_t buffered() const { return buf_.size() - head_; }
    // Bytes passed over since the start because no valid header began there.
    uint64_t skipped() const { return skipped_; }

private:
    void compact();

    Bytes buf_;
    std::size_t head_ = 0;
    uint64_t skipped_ = 0;
};

} // namespace wex
