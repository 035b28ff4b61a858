#pragma once

#include <cstddef>
#include <optional>

#include "protocol/Bytes.h"
#include "protocol/CommonHeader.h"

namespace dovrel::controller {

// One whole frame cut from a byte stream: its header and all its bytes (header, payload and, when
// sealed, the tag).
struct StreamFrame {
    wex::CommonHeader header;
    wex::Bytes bytes;

    // The header's length of bytes after the header: the plain payload, or seq header and ciphertext.
    wex::ByteView payload() const { return wex::ByteView(bytes).subspan(wex::CommonHeader::size, header.length); }
};

// Cuts a control connection's or relay stream's bytes back into frames. Frames follow one another
// without gaps; a header that does not decode (magic, version, CRC-8, stream) costs one byte, so the
// reader slides forward until a valid header begins. Bytes of one frame may arrive over many reads.
class ControlFramer {
public:
    void append(wex::ByteView bytes);
    // The next whole frame, or nothing until more bytes arrive.
    std::optional<StreamFrame> next();
    void clear();
    std::size_t buffered() const { return buf_.size() - start_; }

private:
    void compact();

    wex::Bytes buf_;
    std::size_t start_ = 0; // bytes already consumed at the front of buf_
};

} // namespace dovrel::controller
