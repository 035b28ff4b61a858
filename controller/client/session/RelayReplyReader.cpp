#include "controller/client/session/RelayReplyReader.h"

#include <variant>

#include "protocol/RelayPreamble.h"

namespace dovrel::controller {

void RelayReplyReader::reset(bool expectReply) {
    done_ = !expectReply;
    held_.clear();
}

RelayReplyReader::Outcome RelayReplyReader::feed(wex::ByteView data) {
    held_.insert(held_.end(), data.begin(), data.end());
    const auto reply = wex::RelayRegister::parsePreamble(held_);
    Outcome out;
    if (std::holds_alternative<wex::RelayRegister::NeedMore>(reply)) return out;
    done_ = true;
    if (const auto* r = std::get_if<wex::RelayRegister::RedirectReply>(&reply)) {
        out.redirect = r->target;
    } else if (const auto* n = std::get_if<wex::RelayRegister::NonceReply>(&reply)) {
        out.agentBytes = wex::Bytes(held_.begin() + static_cast<std::ptrdiff_t>(n->consumed), held_.end());
    } else {
        out.agentBytes = std::move(held_);
    }
    held_.clear();
    return out;
}

} // namespace dovrel::controller
