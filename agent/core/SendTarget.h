#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "protocol/Bytes.h"
#include "protocol/SecureSession.h"

namespace dovrel::agent {

// Where one session's sealed video and audio frames go: a datagram socket to the controller's video port
// on the local network, or the queue the relay link is written from. The network side implements it.
class MediaRoute {
public:
    virtual ~MediaRoute() = default;
    // Sends one whole sealed frame. Any thread; false when the frame could not go (a full queue, a
    // session that is over, a datagram the kernel refused).
    virtual bool sendFrame(wex::Bytes frame, bool isVideo) = 0;
    // Frames can still reach the client. Any thread.
    virtual bool linkUp() const = 0;
    // Bytes taken and not yet on the link (a queue in front of a stream); 0 where nothing waits. Any
    // thread.
    virtual std::size_t backlog() const { return 0; }
};

// One established session as the video and audio senders see it. A snapshot: the transport publishes a
// new one whenever the session starts or ends and never changes one in place, so a capture thread that
// holds it seals and sends with a consistent session, identifier and route. Sequence numbers come from
// the session itself (`sealNext`), which hands each one out once even when threads race.
struct SendTarget {
    std::shared_ptr<wex::SecureSession> session;
    uint32_t sessionId = 0;
    bool isRelay = false;
    // On the local network: the controller's video port; null when the controller's address could not be
    // used. On the relay: the queue that "dovrel.net" writes onto the relay link, in order, which refuses
    // every frame once this session is over.
    std::shared_ptr<MediaRoute> route;

    // Sends one sealed video or audio frame on the session's route. Any thread; false when the frame
    // could not go (no route, a full queue, a session that is over).
    bool send(wex::Bytes frame, bool isVideo) const { return route && route->sendFrame(std::move(frame), isVideo); }
};

} // namespace dovrel::agent
