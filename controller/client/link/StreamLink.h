#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>

#include "protocol/Bytes.h"
#include "runtime/net/HostDial.h"

class QTcpSocket;

namespace dovrel::controller {

// One byte-stream connection of the session client: the TCP control connection on the local
// network, or the TLS stream to the relay. It reports its life as the client's link handlers expect
// it: ready once connected (and, for TLS, once the relay's certificate checked out for its host name);
// refused when the other computer answered that nothing listens on the port; waiting when the other end
// cannot be reached yet (unknown host, no route, no answer); failed when an established connection
// breaks or TLS fails; cancelled after `cancel()`. Exactly one state follows `ready`, and nothing after
// it. A host given by name is looked up through `lookups` (which outlive the link) and its addresses
// tried in turn on `clock`'s time; over TLS the certificate must still name the host. Lives on the client thread and is
// touched only there.
class StreamLink final : public QObject {
public:
    enum class State { ready, refused, waiting, failed, cancelled };

    struct Options {
        bool tls = false;
        QList<QSslCertificate> extraCaCertificates; // trusted beside the system's store (tests)
        bool noDelay = false;
    };

    StreamLink(Options options, HostLookups& lookups, Scheduler& clock);
    ~StreamLink() override;

    // Receives state changes and bytes; set before `start`.
    std::function<void(State, const QString& detail)> onState;
    std::function<void(wex::ByteView)> onData;

    void start(const std::string& host, uint16_t port);
    // Closes the connection and reports `cancelled` from the event loop, unless `retire` came first.
    void cancel();
    // Closes the connection and reports nothing more; the owner may then drop the object.
    void retire();
    // Stops delivering bytes; the connection stays open.
    void stopReading() { reading_ = false; }

    // Queues the bytes as one message; nothing once the link has ended.
    void send(wex::ByteView bytes);

    bool isReady() const { return ready_ && !ended_; }
    // Bytes queued and not yet handed to the network (before and after TLS); 0 once ended.
    int64_t pendingBytes() const;
    QString peerAddress() const;

    static const char* stateName(State s);

private:
    void report(State s, const QString& detail);
    void onReadyRead();

    Options options_;
    HostLookups& lookups_;
    Scheduler& clock_;
    std::unique_ptr<QTcpSocket> socket_;
    HostDial::Ptr dial_; // after the socket, so that it goes first
    bool ready_ = false;
    bool ended_ = false; // a final state was reported, or the link was cancelled or retired
    bool reading_ = true;
    bool retired_ = false;
};

// Drops a QObject from the event loop, so that an object can be let go inside its own callback.
struct DeleteLater {
    void operator()(QObject* o) const {
        if (o) o->deleteLater();
    }
};
using LinkPtr = std::unique_ptr<StreamLink, DeleteLater>;

} // namespace dovrel::controller
