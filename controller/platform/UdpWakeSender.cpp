#include <QHostAddress>
#include <QUdpSocket>

#include "controller/platform/WakeSender.h"

namespace dovrel::controller {

namespace {

class UdpWakeSender final : public WakeSender {
public:
    explicit UdpWakeSender(std::vector<uint16_t> ports) : ports_(std::move(ports)) {}

    bool sendBroadcast(const wex::Bytes& packet, uint32_t source, uint32_t broadcast) override {
        // Qt marks its UDP sockets for broadcast; bound to the interface's own address, the datagram
        // leaves on that network.
        QUdpSocket socket;
        if (!socket.bind(QHostAddress(source), 0)) return false;
        const QByteArray datagram(reinterpret_cast<const char*>(packet.data()), static_cast<qsizetype>(packet.size()));
        bool any = false;
        for (const uint16_t port : ports_)
            any = socket.writeDatagram(datagram, QHostAddress(broadcast), port) == datagram.size() || any;
        return any;
    }

private:
    std::vector<uint16_t> ports_;
};

} // namespace

std::unique_ptr<WakeSender> makeUdpWakeSender(std::vector<uint16_t> ports) {
    return std::make_unique<UdpWakeSender>(std::move(ports));
}

} // namespace dovrel::controller
