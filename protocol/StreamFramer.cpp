#include "protocol/StreamFramer.h"

#include <cstring>

#include "protocol/CRC8.h"
#include "protocol/Frame.h"
#include "protocol/Stream.h"
#include "protocol/WEXConstants.h"

namespace wex {

namespace {

// The header's own checks without an exception per rejected byte: garbage is mostly rejected by the
// first byte, and throwing for each would make skipping it slow.
std::optional<CommonHeader> headerAt(const uint8_t* p) {
    if (p[0] != WEX::headerMagic || p[1] != WEX::protocolMajor) return std::nullopt;
    if (p[11] != CRC8::compute(ByteView(p, 11))) return std::nullopt;
    if (!streamFromRaw(p[2])) return std::nullopt;
    return CommonHeader::decode(ByteView(p, CommonHeader::size));
}

} // namespace

void StreamFramer::append(ByteView bytes) {
    if (bytes.empty()) return;
    compact();
    buf_.insert(buf_.end(), bytes.begin(), bytes.end());
}

std::optional<StreamFrame> StreamFramer::next() {
    while (buffered() >= CommonHeader::size) {
        const uint8_t* at = buf_.data() + head_;
        if (at[0] != WEX::headerMagic) {
            // Only a magic byte can begin a header: every byte before the next one goes at once, which
            // is the same as dropping them one by one.
            const void* found = std::memchr(at + 1, WEX::headerMagic, buffered() - 1);
            const std::size_t to =
                found ? static_cast<std::size_t>(static_cast<const uint8_t*>(found) - buf_.data()) : buf_.size();
            skipped_ += to - head_;
            head_ = to;
            continue;
        }
        const auto header = headerAt(at);
        if (!header) {
            ++head_;
            ++skipped_;
            continue;
        }
        const std::size_t span = frameSpan(*header);
        if (buffered() < span) return std::nullopt;
        StreamFrame frame{*header, Bytes(at, at + span)};
        head_ += span;
        return frame;
    }
    return std::nullopt;
}

void StreamFramer::clear() {
    buf_.clear();
    head_ = 0;
}

void StreamFramer::compact() {
    if (head_ == 0) return;
    if (head_ == buf_.size()) {
        clear();
        return;
    }
    // Moving the rest to the front only once the dead prefix is at least as long as what is kept makes
    // every byte move a bounded number of times.
    if (head_ >= buf_.size() - head_) {
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
}

} // namespace wex
