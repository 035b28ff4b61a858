#include "agent/net/Transport.h"
#include "agent/net/UdpSender.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "agent/common/AgentError.h"
#include "agent/common/AgentLog.h"
#include "agent/common/LogThrottle.h"
#include "agent/common/MonoClock.h"
#include "protocol/DovrelService.h"
#include "protocol/Frame.h"
#include "protocol/HandshakeOpening.h"
#include "protocol/SessionSetupMessages.h"
#include "protocol/StreamFramer.h"
#include "protocol/WEXError.h"

namespace dovrel::agent {

using namespace std::chrono_literals;

namespace {

constexpr qint64 receiveChunk = 65536;
constexpr auto helloDeadline = 10s;
constexpr auto authAfterHelloDeadline = 180s;
constexpr auto sessionAfterAuthDeadline = 15s;
constexpr auto idleCheckEvery = 5s;
constexpr auto idleLimit = 15s;
constexpr auto inputDropLogGap = 1s;
// A refused newcomer gets this long to read its AuthFail before its connection is cut.
constexpr int refusedLingerMs = 5000;
// The control connection's round trip is read from its socket at most this often.
// The control connection's socket is read this often while a client is there: its round trip moves with
// each acknowledgement, one or two a second.
constexpr auto controlLinkEvery = 250ms;
// Every relay client gets a fresh registration this long after it ended on the agent's side.
constexpr auto relayRedialAfterClient = 1s;
// Newcomers held beside a client until they speak; beyond this the longest-waiting one goes.
constexpr std::size_t maxWaiting = 8;

struct DeleteLater {
    void operator()(QObject* o) const {
        if (o) o->deleteLater();
    }
};

// An IPv4 peer of a dual-stack listener shows up as ::ffff:a.b.c.d; the controller knows it as a.b.c.d.
QHostAddress plainAddress(const QHostAddress& a) {
    bool isV4 = false;
    const quint32 v4 = a.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : a;
}

void writeAll(QTcpSocket& socket, wex::ByteView bytes) {
    socket.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    socket.flush(); // hand it to the kernel now rather than on the next turn of the loop
}

std::string seconds(std::chrono::seconds s) { return std::to_string(s.count()); }

// The one frame a newcomer gets while a session is established.
wex::Bytes busyFrame() {
    const wex::AuthFail fail{0, wex::AuthFailReason::tooManySessions,
                             "This computer already has a session in progress."};
    return wex::buildFrame(wex::Stream::control, static_cast<uint8_t>(wex::ControlType::authFail), 0, {},
                           fail.encode());
}

// The smoothed round trip the kernel keeps for a TCP socket; 0 when it has none.
std::optional<ControlLinkReading> readControlLink(int fd) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (fd < 0 || ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return std::nullopt;
    ControlLinkReading reading;
    reading.smoothedRoundTrip = std::chrono::microseconds(info.tcpi_rtt);
    reading.segmentsSentAgain = info.tcpi_total_retrans;
    return reading;
}

std::string testCaFileSetting(const std::string& configured) {
    if (!configured.empty()) return configured;
    const char* env = std::getenv("DOVREL_TEST_CA_FILE");
    return env ? std::string(env) : std::string();
}

} // namespace

// One client: its connection, its own stream buffer and the route its video takes.
struct ClientLink {
    Transport::ClientId id = 0;
    bool relay = false;
    TransportRelayLink::ConnId relayConn = 0;        // the relay connection it came on
    std::unique_ptr<QTcpSocket, DeleteLater> socket; // the LAN control connection
    wex::StreamFramer reader;
    std::string host;
    std::shared_ptr<UdpSender> video;
    // It has sent something. Until then it may be a reachability check or a port scan, which come and go
    // without a word: they are neither shown as a device connecting nor written to the log.
    bool spoke = false;
    // A newcomer held beside the client goes without a word when it has not opened a handshake by then.
    std::unique_ptr<Timer> quietDeadline;
    wex::Bytes heard; // what a newcomer held beside the client has said so far
};

struct Transport::Impl {
    Impl(Transport& owner, TransportOptions options)
        : t(owner), ports(options.ports), listenAddress(options.listenAddress),
          advertiser(std::move(options.advertiser)), relayConfigPath(std::move(options.relayConfigPath)),
          mediaLimits(options.mediaLimits) {
        TransportRelayLink::Hooks hooks;
        hooks.controllerBytes = [this](TransportRelayLink::ConnId conn, wex::ByteView bytes) {
            relayControllerBytes(conn, bytes);
        };
        hooks.ended = [this](TransportRelayLink::ConnId conn, const std::string& reason) {
            tearDownRelaySession(conn, reason);
        };
        hooks.writable = [this](TransportRelayLink::ConnId conn) {
            if (media && client && client->relay && client->relayConn == conn) media->requestDrain();
        };
        relay = std::make_unique<TransportRelayLink>(
            context(), clock(), t.relayIdentity_, testCaFileSetting(options.relayTestCaFile),
            options.resolver ? std::move(options.resolver) : makeSystemResolver(), std::move(hooks));
    }

    Transport& t;
    TransportPorts ports;
    QHostAddress listenAddress;
    std::unique_ptr<ServiceAdvertiser> advertiser;
    std::string relayConfigPath;
    Callbacks callbacks;

    std::unique_ptr<QTcpServer> server;
    std::unique_ptr<QUdpSocket> input;
    std::shared_ptr<ClientLink> client; // the one client slot
    // LAN newcomers that arrived while a client held the slot and have not said anything yet: one takes
    // the slot with its first bytes, one that closes or stays silent goes without touching it.
    std::vector<std::shared_ptr<ClientLink>> waiting;
    // Holds the connections refused during a session while they read their answer; they go with it.
    // Made on "dovrel.net", where they live.
    std::unique_ptr<QObject> refused;
    ClientId lastClientId = 0;
    std::shared_ptr<wex::SecureSession> session;
    uint32_t sessionId = 0;

    std::unique_ptr<Timer> authDeadline;
    std::unique_ptr<Timer> idleTimer;
    Instant lastRxAt{};
    std::optional<Instant> lastInputDropLog;
    // Connections come and go at a stranger's pace: their lines are rate-limited.
    LogThrottle strangerLines{clock(), "connections without a session"};

    MediaQueueLimits mediaLimits;
    std::unique_ptr<TransportRelayLink> relay;
    std::shared_ptr<TransportMediaQueue> media; // the relay session's video and audio
    std::unique_ptr<QTimer> backlogPoll;        // runs while the client's link holds unwritten bytes
    std::unique_ptr<Timer> controlLinkTimer;
    static constexpr std::chrono::milliseconds backlogPollEvery{5};

    Scheduler& clock() { return *t.scheduler_; }
    QObject* context() { return t.queue_.context(); }

    // ---- listeners

    std::string startLocked(const std::string& name, const std::string& deviceId, bool lanEnabled) {
        t.queue_.assertCurrent(__func__);
        if (!lanEnabled) {
            print("• LAN listeners DISABLED (relay-only). No inbound ports, no Avahi advert.");
            print("  Remove \"lan\": false from " + relayConfigPath + " (or set it to true) to enable them.");
            return {};
        }
        server = std::make_unique<QTcpServer>();
        if (!server->listen(listenAddress, ports.control)) {
            const std::string why = "cannot listen on TCP port " + std::to_string(ports.control) + ": " +
                                    server->errorString().toStdString();
            server.reset();
            return why;
        }
        QObject::connect(server.get(), &QTcpServer::newConnection, context(), [this] {
            while (server && server->hasPendingConnections())
                acceptControl(server->nextPendingConnection());
        });
        input = std::make_unique<QUdpSocket>();
        if (!input->bind(listenAddress, ports.input)) {
            const std::string why =
                "cannot listen on UDP port " + std::to_string(ports.input) + ": " + input->errorString().toStdString();
            input.reset();
            server.reset();
            return why;
        }
        QObject::connect(input.get(), &QUdpSocket::readyRead, context(), [this] { readInput(); });
        t.boundControl_ = server->serverPort();
        t.boundInput_ = input->localPort();
        if (advertiser)
            advertiser->publish(name, server->serverPort(), wex::DovrelService::txt(deviceId, name, true, 1));
        return {};
    }

    void shutdownLocked() {
        t.queue_.assertCurrent(__func__);
        authDeadline.reset();
        idleTimer.reset();
        controlLinkTimer.reset();
        relay->shutdown();
        if (client) closeLink(*client);
        client.reset();
        for (const auto& link : std::exchange(waiting, {}))
            closeLink(*link);
        session.reset();
        endTarget();
        refused.reset();
        server.reset();
        input.reset();
        if (advertiser) advertiser->withdraw();
        advertiser.reset();
    }

    // ---- accepting a control connection

    void acceptControl(QTcpSocket* raw) {
        if (!raw) return;
        raw->setParent(nullptr);
        std::unique_ptr<QTcpSocket, DeleteLater> socket(raw);
        if (session) {
            refuse(std::move(socket));
            return;
        }
        auto link = std::make_shared<ClientLink>();
        link->socket = std::move(socket);
        link->host = plainAddress(link->socket->peerAddress()).toString().toStdString();

        QTcpSocket* s = link->socket.get();
        const std::weak_ptr<ClientLink> weak = link;
        QObject::connect(s, &QTcpSocket::readyRead, context(), [this, weak] {
            if (auto l = weak.lock()) readable(l);
        });
        QObject::connect(s, &QTcpSocket::disconnected, context(), [this, weak] {
            if (auto l = weak.lock()) closed(l);
        });
        QObject::connect(s, &QTcpSocket::errorOccurred, context(), [this, weak](QAbstractSocket::SocketError) {
            if (auto l = weak.lock()) closed(l);
        });

        // A client's handshake may be waiting for its person to type a code: a connection that only
        // opens (a reachability check, a port scan) must not cut it off.
        if (client) {
            wait(link);
            if (s->bytesAvailable() > 0) readable(link); // bytes that came with the connection
            return;
        }
        takeSlot(link);
    }

    void wait(const std::shared_ptr<ClientLink>& link) {
        if (waiting.size() >= maxWaiting) forget(waiting.front());
        const std::weak_ptr<ClientLink> weak = link;
        link->quietDeadline = clock().after(helloDeadline, [this, weak] {
            if (auto l = weak.lock()) forget(l);
        });
        waiting.push_back(link);
    }

    bool isWaiting(const std::shared_ptr<ClientLink>& link) const {
        return std::find(waiting.begin(), waiting.end(), link) != waiting.end();
    }

    // No longer held beside the client: neither waiting nor timed.
    void stopWaiting(const std::shared_ptr<ClientLink>& link) {
        std::erase(waiting, link);
        link->quietDeadline.reset();
    }

    // A waiting newcomer goes without a trace.
    void forget(std::shared_ptr<ClientLink> link) {
        stopWaiting(link);
        closeLink(*link);
    }

    // The newcomer becomes the client: guards afresh, no session, and its bytes so far read.
    void takeSlot(const std::shared_ptr<ClientLink>& link) {
        startSessionGuards();
        link->quietDeadline.reset();
        link->id = ++lastClientId;
        client = link;
        session.reset();
        endTarget();
        if (callbacks.onNewConnection) callbacks.onNewConnection();
        if (client == link && !link->heard.empty()) receiveOnLink(link, std::exchange(link->heard, {}));
        if (client == link) readControl(link); // bytes that came with the connection
    }

    void readable(const std::shared_ptr<ClientLink>& link) {
        if (client == link)
            readControl(link);
        else if (isWaiting(link))
            listenToNewcomer(link);
    }

    void closed(const std::shared_ptr<ClientLink>& link) {
        if (client == link) {
            controlClosed(link);
        } else if (isWaiting(link)) {
            // A Hello it sent just before it closed still makes it the client, which then ends at once.
            listenToNewcomer(link);
            if (client == link)
                controlClosed(link);
            else if (isWaiting(link))
                forget(link);
        }
    }

    // A waiting newcomer takes the slot only with a whole Hello: a port scan's probe line, a TLS hello or
    // any other program that writes first must not cut off a handshake waiting for its code.
    // Read a chunk at a time, so that what it holds stays within a frame and a chunk.
    void listenToNewcomer(const std::shared_ptr<ClientLink>& link) {
        for (;;) {
            switch (wex::handshakeOpening(link->heard)) {
            case wex::HandshakeOpening::unsure: break;
            case wex::HandshakeOpening::hello: spokeWhileWaiting(link); return;
            case wex::HandshakeOpening::other:
                strangerLines.print("• closing a new connection from " + link->host + " — it did not open a handshake");
                forget(link);
                return;
            }
            if (!link->socket || link->socket->bytesAvailable() <= 0) return;
            const QByteArray bytes = link->socket->read(receiveChunk);
            if (bytes.isEmpty()) return;
            link->heard.insert(link->heard.end(), bytes.begin(), bytes.end());
        }
    }

    // A waiting newcomer opened a handshake: it replaces a client that has not authenticated, or is
    // refused when the client has meanwhile established its session.
    void spokeWhileWaiting(const std::shared_ptr<ClientLink>& link) {
        stopWaiting(link);
        if (session) {
            QObject::disconnect(link->socket.get(), nullptr, context(), nullptr);
            refuse(std::move(link->socket), true);
            return;
        }
        if (client) {
            if (client->spoke)
                strangerLines.print("• new TCP control connection from " + link->host +
                                    " — dropping the unfinished handshake " + fromWhom(*client));
            closeLink(*client);
        }
        takeSlot(link);
    }

    static std::string fromWhom(const ClientLink& link) {
        return link.relay ? std::string("of the relay controller") : "from " + link.host;
    }

    // A newcomer during an established session: one plain AuthFail, then the connection is closed. It
    // is written to the log once it says something (`spoke`: it has): one that closes without a word
    // was only looking.
    void refuse(std::unique_ptr<QTcpSocket, DeleteLater> socket, bool spoke = false) {
        const wex::Bytes frame = busyFrame();
        QTcpSocket* s = socket.release();
        if (!refused) refused = std::make_unique<QObject>();
        s->setParent(refused.get());
        // Whatever it sends is read and thrown away: closing with unread bytes would reset the
        // connection and could destroy the AuthFail before the peer reads it.
        const auto discard = [this, s, spoke, logged = std::make_shared<bool>(false)] {
            if ((!s->readAll().isEmpty() || spoke) && !*logged) {
                *logged = true;
                strangerLines.print("• refusing a new control connection — a session is already established");
            }
        };
        QObject::connect(s, &QTcpSocket::readyRead, s, discard);
        discard(); // what it said while it waited beside the client
        QObject::connect(s, &QTcpSocket::disconnected, s, [s] { s->deleteLater(); });
        writeAll(*s, frame);
        ::shutdown(static_cast<int>(s->socketDescriptor()), SHUT_WR);
        QTimer::singleShot(refusedLingerMs, s, [s] {
            s->abort();
            s->deleteLater();
        });
    }

    // ---- receiving on the control connection

    void readControl(const std::shared_ptr<ClientLink>& link) {
        while (client == link && link->socket && link->socket->bytesAvailable() > 0) {
            const QByteArray bytes = link->socket->read(receiveChunk);
            if (bytes.isEmpty()) break;
            receiveOnLink(link, wex::ByteView(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                              static_cast<std::size_t>(bytes.size())));
        }
    }

    void controlClosed(const std::shared_ptr<ClientLink>& link) {
        if (client != link) return; // a connection that was replaced or dropped says nothing any more
        readControl(link);          // what came in just before the close still counts
        if (client != link) return;
        if (link->spoke) strangerLines.print("• control connection closed — client gone");
        dropClientLocked();
    }

    // The receive path shared by every kind of client link.
    void receiveOnLink(const std::shared_ptr<ClientLink>& link, wex::ByteView bytes) {
        if (client != link) return;
        if (!link->spoke) {
            link->spoke = true;
            if (!link->relay) {
                // A controller, then: its video route opens and its owner hears of it.
                link->video = UdpSender::connectTo(link->host, ports.video);
                if (callbacks.onClientConnected) callbacks.onClientConnected(link->host);
                if (client != link) return;
            }
        }
        lastRxAt = clock().now();
        link->reader.append(bytes);
        while (client == link) {
            auto frame = link->reader.next();
            if (!frame) break;
            deliver(*link, std::move(*frame));
        }
    }

    void deliver(const ClientLink& link, wex::StreamFrame frame) {
        if (session && frame.sealed()) {
            const std::shared_ptr<wex::SecureSession> s = session;
            auto opened = s->openFrame(frame.bytes);
            if (!opened) return;
            if (link.relay && opened->header.stream == wex::Stream::input) {
                deliverInput(opened->plaintext);
                return;
            }
            if (callbacks.onControl) callbacks.onControl(opened->header, std::move(opened->plaintext));
            return;
        }
        const auto payload = frame.payload();
        if (callbacks.onControl) callbacks.onControl(frame.header, wex::Bytes(payload.begin(), payload.end()));
    }

    void deliverInput(wex::ByteView plaintext) {
        std::optional<wex::InputBatch> batch;
        try {
            batch = wex::InputBatch::decode(plaintext);
        } catch (const wex::WEXError&) {
            return;
        }
        if (callbacks.onInput) callbacks.onInput(*batch);
    }

    // ---- input datagrams

    void readInput() {
        while (input && input->hasPendingDatagrams()) {
            const QNetworkDatagram d = input->receiveDatagram();
            const QByteArray data = d.data();
            inputDatagram(wex::ByteView(reinterpret_cast<const uint8_t*>(data.constData()),
                                        static_cast<std::size_t>(data.size())));
        }
    }

    void inputDatagram(wex::ByteView datagram) {
        if (!session) {
            // Anyone can send datagrams: one line a second at most keeps a flood out of the log.
            const Instant now = clock().now();
            if (!lastInputDropLog || now - *lastInputDropLog >= inputDropLogGap) {
                lastInputDropLog = now;
                print("• dropped INPUT datagram — no authenticated session");
            }
            return;
        }
        const std::shared_ptr<wex::SecureSession> s = session;
        auto opened = s->openFrame(datagram);
        // Only a datagram that proves it comes from the client keeps the client alive.
        if (!opened) return;
        lastRxAt = clock().now();
        if (opened->header.stream != wex::Stream::input) return;
        deliverInput(opened->plaintext);
    }

    // ---- sending

    void sendControlLocked(const wex::Bytes& payload, wex::ControlType type) {
        t.queue_.assertCurrent(__func__);
        if (!client) return;
        wex::Bytes frame;
        if (session) {
            frame = session->sealNext(wex::Stream::control, static_cast<uint8_t>(type), sessionId,
                                      MonoClock::wireMicros(), payload);
            if (frame.empty()) {
                // Every sequence number of the stream is used up: the session cannot go on safely.
                if (session->sendExhausted(wex::Stream::control)) dropClientLocked();
                return;
            }
        } else {
            frame = wex::buildFrame(wex::Stream::control, static_cast<uint8_t>(type), 0, {}, payload);
            if (frame.empty()) return;
        }
        writeToLink(*client, frame);
        noteLinkBacklog();
    }

    void writeToLink(ClientLink& link, wex::ByteView frame) {
        if (link.socket)
            writeAll(*link.socket, frame);
        else if (link.relay)
            relay->write(link.relayConn, frame);
    }

    // Publishes what the client link's socket says of the way for the pipeline, which lowers the rate
    // when it shows a full link: the control connection shares the way with the video, so the video
    // filling a slow link's queue shows there first.
    void noteControlLink() {
        const int fd = !client          ? -1
                       : client->socket ? static_cast<int>(client->socket->socketDescriptor())
                       : client->relay  ? relay->descriptor(client->relayConn)
                                        : -1;
        const std::optional<ControlLinkReading> reading = readControlLink(fd);
        const std::lock_guard guard(t.controlLinkLock_);
        t.controlLink_ = reading;
    }

    // Publishes what the client's link has taken but not yet written, for readers on other threads;
    // while that is not nothing it is looked at again every few milliseconds, so that the figure falls
    // as the link drains even when nothing more is sent.
    void noteLinkBacklog() {
        t.queue_.assertCurrent(__func__);
        std::size_t unwritten = 0;
        if (client && client->socket)
            unwritten = static_cast<std::size_t>(std::max<qint64>(0, client->socket->bytesToWrite()));
        else if (client && client->relay)
            unwritten = relay->backlog(client->relayConn);
        t.linkUnwritten_.store(unwritten, std::memory_order_release);
        if (unwritten == 0) {
            if (backlogPoll) backlogPoll->stop();
            return;
        }
        if (!backlogPoll) {
            backlogPoll = std::make_unique<QTimer>();
            backlogPoll->setInterval(backlogPollEvery);
            QObject::connect(backlogPoll.get(), &QTimer::timeout, context(), [this] { noteLinkBacklog(); });
        }
        if (!backlogPoll->isActive()) backlogPoll->start();
    }

    // ---- the relay side of the client slot

    // Controller bytes on relay connection `conn`: more of the current relay client's stream, or a
    // controller that has just arrived.
    void relayControllerBytes(TransportRelayLink::ConnId conn, wex::ByteView bytes) {
        if (client && client->relay && client->relayConn == conn) {
            const std::shared_ptr<ClientLink> link = client; // the callbacks may end it meanwhile
            receiveOnLink(link, bytes);
            return;
        }
        if (session) {
            // Never merged into the live session: it gets the same answer as a LAN newcomer, and the room
            // registers afresh for the next controller.
            print("• refusing a relay controller — a session is already established");
            relay->write(conn, busyFrame());
            relay->retire(conn, relayRedialAfterClient);
            return;
        }
        if (client && client->spoke)
            print("• relay controller arrived — dropping the unfinished handshake " + fromWhom(*client));
        else
            print("• relay controller arrived");
        startSessionGuards();
        if (client) closeLink(*client);
        auto link = std::make_shared<ClientLink>();
        link->id = ++lastClientId;
        link->relay = true;
        link->relayConn = conn;
        client = link;
        session.reset();
        endTarget();
        if (callbacks.onNewConnection) callbacks.onNewConnection();
        if (client != link) return; // the owner dropped it at once
        receiveOnLink(link, bytes);
    }

    // Relay connection `conn` is gone: the session on it, if any, ends.
    void tearDownRelaySession(TransportRelayLink::ConnId conn, const std::string& reason) {
        if (!client || !client->relay || client->relayConn != conn) return;
        print("• relay session torn down (" + reason + ")");
        stopSessionGuards();
        session.reset();
        endTarget();
        client.reset();
        if (callbacks.onNewConnection) callbacks.onNewConnection();
    }

    // The relay session's media queue goes with the session: what it holds is discarded and every later
    // push refused, so no frame of an old session reaches a newer client.
    void endTarget() {
        if (media) media->close();
        media.reset();
        t.publish(nullptr);
    }

    // ---- session guards

    void startSessionGuards() {
        stopSessionGuards();
        lastRxAt = clock().now();
        armAuthDeadline(helloDeadline, "no HELLO");
        idleTimer = clock().every(idleCheckEvery, idleCheckEvery, [this] { idleCheck(); });
        controlLinkTimer = clock().every(controlLinkEvery, controlLinkEvery, [this] { noteControlLink(); });
    }

    void stopSessionGuards() {
        authDeadline.reset();
        idleTimer.reset();
        controlLinkTimer.reset();
    }

    void armAuthDeadline(std::chrono::seconds after, const char* why) {
        authDeadline.reset();
        authDeadline = clock().after(after, [this, after, why] {
            if (session) return;
            strangerLines.print(std::string("• dropping unauthenticated client — ") + why + " within " +
                                seconds(after) + "s");
            dropClientLocked();
        });
    }

    void idleCheck() {
        if (!session || clock().now() - lastRxAt <= idleLimit) return;
        print("• dropping idle client — no traffic for 15s");
        dropClientLocked();
    }

    void noteHandshakeLocked(HandshakeStage stage) {
        t.queue_.assertCurrent(__func__);
        if (session || !client) return;
        if (stage == HandshakeStage::hello)
            armAuthDeadline(authAfterHelloDeadline, "no AUTH after HELLO");
        else
            armAuthDeadline(sessionAfterAuthDeadline, "AUTH did not complete");
    }

    void establishLocked(std::shared_ptr<wex::SecureSession> s, uint32_t id) {
        t.queue_.assertCurrent(__func__);
        if (!client || !s) return;
        authDeadline.reset();
        lastRxAt = clock().now();
        session = std::move(s);
        sessionId = id;
        auto target = std::make_shared<SendTarget>();
        target->session = session;
        target->sessionId = id;
        target->isRelay = client->relay;
        if (!client->relay) target->route = client->video;
        if (client->relay) {
            if (media) media->close();
            const TransportRelayLink::ConnId conn = client->relayConn;
            TransportMediaQueue::Sink sink;
            sink.write = [this, conn](wex::ByteView frame) { return relay->write(conn, frame, false); };
            sink.flush = [this, conn] { relay->flush(conn); };
            sink.backlog = [this, conn] { return relay->backlog(conn); };
            media = std::make_shared<TransportMediaQueue>(
                t.queue_, std::move(sink),
                [this] {
                    if (callbacks.onRelayVideoDropped) callbacks.onRelayVideoDropped();
                },
                t.mediaCounters_, mediaLimits);
            target->route = media;
        }
        t.publish(std::move(target));
    }

    // ---- dropping the client

    void closeLink(ClientLink& link) {
        // A relay client's connection closes with it, and the room registers afresh.
        if (link.relay) relay->retire(link.relayConn, relayRedialAfterClient);
        if (link.socket) {
            QObject::disconnect(link.socket.get(), nullptr, context(), nullptr);
            link.socket->close();
            link.socket.reset();
        }
        link.video.reset();
        link.reader.clear();
    }

    void dropClientLocked() {
        t.queue_.assertCurrent(__func__);
        if (!client && !session) return;
        stopSessionGuards();
        session.reset();
        endTarget();
        if (const auto link = std::move(client)) closeLink(*link);
        client.reset();
        backlogPoll.reset();
        t.linkUnwritten_.store(0, std::memory_order_release);
        {
            const std::lock_guard guard(t.controlLinkLock_);
            t.controlLink_.reset();
        }
        if (callbacks.onNewConnection) callbacks.onNewConnection();
    }
};

Transport::Transport(TransportOptions options)
    : queue_("dovrel.net"), scheduler_(options.scheduler ? options.scheduler : &realScheduler()) {
    impl_ = std::make_unique<Impl>(*this, std::move(options));
}

Transport::~Transport() {
    queue_.sync([this] {
        impl_->shutdownLocked();
        impl_->callbacks = {};
    });
    queue_.sync([this] { impl_.reset(); });
}

void Transport::onQueue(std::function<void()> fn) {
    if (queue_.isCurrent())
        fn();
    else
        queue_.post(std::move(fn));
}

void Transport::setCallbacks(Callbacks callbacks) {
    queue_.sync([&] { impl_->callbacks = std::move(callbacks); });
}

void Transport::start(const std::string& advertiseName, const std::string& deviceId, bool lanEnabled) {
    std::string error;
    queue_.sync([&] { error = impl_->startLocked(advertiseName, deviceId, lanEnabled); });
    if (!error.empty()) throw AgentError(AgentError::Kind::transport, error);
}

void Transport::setRelayIdentity(wex::RelayIdentity identity) { relayIdentity_.set(std::move(identity)); }

wex::RelayIdentity Transport::relayIdentity() const { return relayIdentity_.get(); }

void Transport::setRelayCredentials(wex::Bytes publicKey, std::function<wex::Bytes(wex::ByteView)> signer) {
    queue_.sync([&] { impl_->relay->setCredentials(std::move(publicKey), std::move(signer)); });
}

void Transport::startRelay(const std::string& deviceId) {
    onQueue([this, deviceId] { impl_->relay->start(deviceId); });
}

void Transport::repointRelay(RelayEndpoint to, std::function<void()> done) {
    onQueue([this, to = std::move(to), done = std::move(done)] {
        impl_->relay->repoint(to);
        if (done) done();
    });
}

bool Transport::sendMedia(wex::Bytes frame, bool isVideo) const {
    const auto target = sendTarget();
    return target && target->send(std::move(frame), isVideo);
}

Transport::MediaCounts Transport::relayMediaCounts() const {
    const MediaCounters& c = *mediaCounters_;
    return {c.videoSent.load(), c.audioSent.load(), c.videoDropped.load(), c.audioDropped.load()};
}

void Transport::sendControl(wex::Bytes payload, wex::ControlType type) {
    const std::size_t size = payload.size();
    controlQueued_.fetch_add(size, std::memory_order_acq_rel);
    onQueue([this, payload = std::move(payload), type, size] {
        impl_->sendControlLocked(payload, type);
        controlQueued_.fetch_sub(size, std::memory_order_acq_rel);
    });
}

std::optional<ControlLinkReading> Transport::controlLink() const {
    const std::lock_guard guard(controlLinkLock_);
    return controlLink_;
}

std::size_t Transport::controlBacklog() const {
    return controlQueued_.load(std::memory_order_acquire) + linkUnwritten_.load(std::memory_order_acquire);
}

void Transport::noteHandshake(HandshakeStage stage) {
    onQueue([this, stage] { impl_->noteHandshakeLocked(stage); });
}

void Transport::establishSession(std::shared_ptr<wex::SecureSession> session, uint32_t sessionId) {
    onQueue([this, session = std::move(session), sessionId]() mutable {
        impl_->establishLocked(std::move(session), sessionId);
    });
}

void Transport::dropClient() {
    onQueue([this] { impl_->dropClientLocked(); });
}

bool Transport::hasSession() const { return impl_->session != nullptr; }

Transport::ClientId Transport::currentClient() const { return impl_->client ? impl_->client->id : 0; }

bool Transport::clientIsRelay() const { return impl_->client && impl_->client->relay; }

std::size_t Transport::waitingNewcomers() const { return impl_->waiting.size(); }

} // namespace dovrel::agent
