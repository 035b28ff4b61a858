#pragma once

#include <optional>
#include <string>

#include "protocol/Bytes.h"

namespace dovrel::controller {

// What the relay says on a client's stream before the agent's bytes: nothing after a room
// registration; after an account registration a redirect to another node, or the ownership challenge
// (the agent's business, never the frame reader's), or at once the agent's stream.
class RelayReplyReader {
public:
    struct Outcome {
        std::optional<wex::Bytes> agentBytes; // the first bytes of the agent's stream, once the reply is read
        std::optional<std::string> redirect;  // the node to use instead, as the relay wrote it
    };

    // A new stream; only an account registration gets a reply.
    void reset(bool expectReply);
    // Whether the reply is behind: every byte from here on is the agent's.
    bool done() const { return done_; }
    // Before done(): holds `data` until the reply is whole, and says what it was.
    Outcome feed(wex::ByteView data);

private:
    bool done_ = true;
    wex::Bytes held_;
};

} // namespace dovrel::controller
