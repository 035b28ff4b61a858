#include "agent/net/FrameReader.h"

#include <algorithm>

#include "protocol/CRC8.h"
#include "protocol/Frame.h"
#include "protocol/Stream.h"
#include "protocol/WEXConstants.h"

namespace dovrel::agent {

namespace {

// The header's own checks without an exception per rejected byte: garbage is mostly rejected by the
// first byte, and throwing for each would make skipping it slow.
std::optional<wex::CommonHeader> headerAt(const uint8_t* p) {
    if (p[0] != wex::WEX::headerMagic || p[1] != wex::WEX::protocolMajor) return std::nullopt;
    if (p[11] != wex::CRC8::compute(wex::ByteView(p, 11))) return std::nullopt;
    if (!wex::streamFromRaw(p[2])) return std::nullopt;
    return wex::CommonHeader::decode(wex::ByteView(p, wex::CommonHeader::size));
}

} // namespace

void FrameReader::append(wex::ByteView bytes) {
    if (bytes.empty()) return;
    compact();
    buf_.insert(buf_.end(), bytes.begin(), bytes.end());
}

std::optional<StreamFrame> FrameReader::next() {
    while (buffered() >= wex::CommonHeader::size) {
        const uint8_t* at = buf_.data() + head_;
        const auto header = headerAt(at);
        if (!header) {
            ++head_;
            continue;
        }
        const std::size_t span = wex::frameSpan(*header);
        if (buffered() < span) return std::nullopt;
        StreamFrame frame{*header, wex::Bytes(at, at + span)};
        head_ += span;
        return frame;
    }
    return std::nullopt;
}

void FrameReader::clear() {
    buf_.clear();
    head_ = 0;
}

void FrameReader::compact() {
    if (head_ == 0) return;
    if (head_ == buf_.size()) {
        clear();
        return;
    }
    // Moving the rest to the front only once the dead prefix is at least as long as what is kept
    // makes every byte move a bounded number of times.
    if (head_ >= buf_.size() - head_) {
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
}

} // namespace dovrel::agent
