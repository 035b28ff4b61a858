#pragma once

#include <cstddef>
#include <optional>

#include "protocol/Bytes.h"
#include "protocol/CommonHeader.h"

namespace dovrel::agent {

// One frame cut out of a byte stream: its header and all of its bytes (header, payload and, when
// sealed, the 16-byte tag).
struct StreamFrame {
    wex::CommonHeader header;
    wex::Bytes bytes;

    bool sealed() const { return header.flags.contains(wex::HeaderFlag::encryptedApp); }
    // The bytes after the header that its length announces (the plain payload of an unsealed frame).
    wex::ByteView payload() const { return wex::ByteView(bytes).subspan(wex::CommonHeader::size, header.length); }
};

// Cuts WEX/1 frames out of one connection's byte stream. Frames follow one another without gaps; a
// header that does not decode costs one byte, which is how the reader finds the next frame after
// garbage. Consumed bytes are skipped with a read offset and compacted away in bulk, so a stream of
// garbage costs time linear in its length. One reader per connection: bytes of two connections never
// meet in one buffer.
class FrameReader {
public:
    void append(wex::ByteView bytes);
    // The next complete frame, or nothing until more bytes arrive.
    std::optional<StreamFrame> next();
    void clear();
    // Bytes held that are not yet part of a delivered frame.
    std::size_t buffered() const { return buf_.size() - head_; }

private:
    void compact();

    wex::Bytes buf_;
    std::size_t head_ = 0;
};

} // namespace dovrel::agent
