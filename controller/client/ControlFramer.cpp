#include "controller/client/ControlFramer.h"

#include <algorithm>
#include <cstring>

#include "protocol/Frame.h"
#include "protocol/WEXConstants.h"
#include "protocol/WEXError.h"

namespace dovrel::controller {

void ControlFramer::append(wex::ByteView bytes) {
    compact();
    buf_.insert(buf_.end(), bytes.begin(), bytes.end());
}

void ControlFramer::clear() {
    buf_.clear();
    start_ = 0;
}

void ControlFramer::compact() {
    // Consumed bytes are dropped in one move once they outweigh what is left, so sliding over garbage
    // one byte at a time stays linear.
    if (start_ == 0) return;
    if (start_ == buf_.size()) {
        clear();
        return;
    }
    if (start_ < buf_.size() - start_ && start_ < 65536) return;
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
}

std::optional<StreamFrame> ControlFramer::next() {
    while (buffered() >= wex::CommonHeader::size) {
        const uint8_t* at = buf_.data() + start_;
        if (at[0] != wex::WEX::headerMagic) {
            // Only a magic byte can begin a header: skip to the next one at once.
            const void* found = std::memchr(at + 1, wex::WEX::headerMagic, buffered() - 1);
            start_ = found ? static_cast<std::size_t>(static_cast<const uint8_t*>(found) - buf_.data()) : buf_.size();
            continue;
        }
        wex::CommonHeader header;
        try {
            header = wex::CommonHeader::decode(wex::ByteView(at, wex::CommonHeader::size));
        } catch (const wex::WEXError&) {
            ++start_;
            continue;
        }
        const std::size_t span = wex::frameSpan(header);
        if (buffered() < span) return std::nullopt;
        StreamFrame frame{header, wex::Bytes(at, at + span)};
        start_ += span;
        return frame;
    }
    return std::nullopt;
}

} // namespace dovrel::controller
