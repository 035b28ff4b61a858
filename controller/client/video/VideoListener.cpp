#include "controller/client/video/VideoListener.h"

#include <QHostAddress>

namespace dovrel::controller {

VideoListener::VideoListener(Sink& sink, Scheduler& clock) : sink_(sink), clock_(clock) {}

VideoListener::~VideoListener() { release(); }

void VideoListener::start(uint16_t port) {
    thread_.check(__func__);
    port_ = port;
    failingSince_.reset();
    listen();
}

void VideoListener::listen() {
    stop();
    std::unique_ptr<QUdpSocket, DeleteLater> socket(new QUdpSocket);
    if (!socket->bind(QHostAddress::Any, port_)) {
        // The port may be held by another program for a moment: try again until it is free.
        if (!failingSince_) failingSince_ = clock_.now();
        retry();
        return;
    }
    failingSince_.reset();
    QUdpSocket* s = socket.get();
    // A keyframe comes as a burst of pieces; room for several keeps a busy moment from losing some. The
    // system may grant less.
    s->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4 << 20);
    QObject::connect(s, &QUdpSocket::readyRead, s, [this] { readDatagrams(); });
    QObject::connect(s, &QUdpSocket::errorOccurred, s, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::DatagramTooLargeError) return;
        retryTimer_ = clock_.after(retryAfter, [this] { listen(); });
    });
    socket_ = std::move(socket);
}

void VideoListener::retry() {
    if (clock_.now() - *failingSince_ < giveUpAfter) {
        retryTimer_ = clock_.after(retryAfter, [this] { listen(); });
        return;
    }
    const uint16_t port = port_;
    failingSince_.reset();
    sink_.videoPortUnavailable(port);
}

void VideoListener::stop() {
    thread_.check(__func__);
    release();
    retryTimer_.reset();
}

void VideoListener::release() {
    if (!socket_) return;
    QObject::disconnect(socket_.get(), nullptr, nullptr, nullptr);
    // Closed now, not when the event loop deletes it: binding the same port again at once must work.
    socket_->close();
    socket_.reset();
}

uint16_t VideoListener::boundPort() const { return socket_ ? socket_->localPort() : 0; }

void VideoListener::readDatagrams() {
    // Read into one buffer: no allocation per piece.
    if (buffer_.size() < 65536) buffer_.resize(65536);
    while (socket_ && socket_->hasPendingDatagrams()) {
        const qint64 n =
            socket_->readDatagram(reinterpret_cast<char*>(buffer_.data()), static_cast<qint64>(buffer_.size()));
        if (n < 0) break;
        if (n == 0) continue;
        sink_.videoDatagram(wex::ByteView(buffer_).first(static_cast<std::size_t>(n)));
    }
}

} // namespace dovrel::controller
