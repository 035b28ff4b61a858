#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include <QUdpSocket>

#include "controller/client/link/OwnerThread.h"
#include "controller/client/link/StreamLink.h"
#include "protocol/Bytes.h"
#include "runtime/Scheduler.h"

namespace dovrel::controller {

// The UDP port where the agent's video and audio arrive on the local network. It binds again, every
// 500 ms, while the port is held elsewhere or after a socket error; a port still held after 12 s is
// another program's for good (the agent sends to this port only, so there is nowhere else to listen):
// it stops trying and tells its sink once. Client thread only.
class VideoListener {
public:
    // Where the datagrams go.
    class Sink {
    public:
        virtual ~Sink() = default;
        virtual void videoDatagram(wex::ByteView datagram) = 0;
        // `port` stayed held elsewhere for `giveUpAfter`: the listener has stopped trying.
        virtual void videoPortUnavailable(uint16_t port) = 0;
    };

    static constexpr auto retryAfter = std::chrono::milliseconds(500);
    static constexpr auto giveUpAfter = std::chrono::seconds(12);

    VideoListener(Sink& sink, Scheduler& clock);
    ~VideoListener();
    VideoListener(const VideoListener&) = delete;
    VideoListener& operator=(const VideoListener&) = delete;

    // Listens on `port` (0: any free port) in place of what it listened on before.
    void start(uint16_t port);
    void stop();
    // The port bound, 0 while none is.
    uint16_t boundPort() const;

private:
    // Binds `port_` afresh.
    void listen();
    void readDatagrams();
    // One more bind on `port_` after a failed one, unless it has failed for too long.
    void retry();
    // Lets the socket go; it is deleted from the event loop, so nothing it still signals reaches us.
    void release();

    Sink& sink_;
    Scheduler& clock_;
    OwnerThread thread_;
    uint16_t port_ = 0;
    // When binding `port_` first failed, since the last bind that worked.
    std::optional<Instant> failingSince_;
    std::unique_ptr<QUdpSocket, DeleteLater> socket_;
    std::unique_ptr<Timer> retryTimer_;
    wex::Bytes buffer_; // one read buffer for every datagram
};

} // namespace dovrel::controller
