#pragma once

#include <cstdint>
#include <memory>

#include <QUdpSocket>

#include "controller/client/OwnerThread.h"
#include "controller/client/StreamLink.h"
#include "protocol/Bytes.h"
#include "runtime/Scheduler.h"

namespace dovrel::controller {

// The UDP port where the agent's video and audio arrive on the local network. It binds again, every
// 500 ms, while the port is held elsewhere or after a socket error. Client thread only.
class VideoListener {
public:
    // Where the datagrams go.
    class Sink {
    public:
        virtual ~Sink() = default;
        virtual void videoDatagram(wex::ByteView datagram) = 0;
    };

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
    void readDatagrams();
    // Lets the socket go; it is deleted from the event loop, so nothing it still signals reaches us.
    void release();

    Sink& sink_;
    Scheduler& clock_;
    OwnerThread thread_;
    uint16_t port_ = 0;
    std::unique_ptr<QUdpSocket, DeleteLater> socket_;
    std::unique_ptr<Timer> retryTimer_;
    wex::Bytes buffer_; // one read buffer for every datagram
};

} // namespace dovrel::controller
