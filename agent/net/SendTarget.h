#pragma once

#include <cstdint>
#include <memory>

#include "agent/net/TransportMediaQueue.h"
#include "agent/net/UdpSender.h"
#include "protocol/SecureSession.h"

namespace dovrel::agent {

// One established session as the video and audio senders see it. A snapshot: the transport publishes a
// new one whenever the session starts or ends and never changes one in place, so a capture thread that
// holds it seals and sends with a consistent session, identifier and route. Sequence numbers come from
// the session itself (`sealNext`), which hands each one out once even when threads race.
struct SendTarget {
    std::shared_ptr<wex::SecureSession> session;
    uint32_t sessionId = 0;
    bool isRelay = false;
    // On the local network: the controller's video port. Null on the relay, whose sends go through the
    // relay link, and when the controller's address could not be used.
    std::shared_ptr<UdpSender> video;
    // On the relay: the queue that "dovrel.net" writes onto the relay link, in order. Closed (every push
    // refused) once this session is over.
    std::shared_ptr<TransportMediaQueue> relay;

    // Sends one sealed video or audio frame on the session's route: a datagram to the controller's
    // video port on the local network, the relay link's queue on the relay. Any thread; false when the
    // frame could not go (no route, a full queue, a session that is over).
    bool send(wex::Bytes frame, bool isVideo) const {
        if (isRelay) return relay && relay->push(std::move(frame), isVideo);
        return video && video->send(frame);
    }
};

} // namespace dovrel::agent
