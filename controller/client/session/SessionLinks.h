#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <QList>
#include <QSslCertificate>

#include "controller/client/link/OwnerThread.h"
#include "controller/client/link/StreamLink.h"
#include "controller/client/session/ClientConfig.h"
#include "controller/client/session/RelayReplyReader.h"
#include "controller/client/video/VideoListener.h"
#include "protocol/Bytes.h"
#include "protocol/RelayIdentity.h"
#include "runtime/Scheduler.h"

class QUdpSocket;

namespace dovrel::controller {

// The links of a session: on the local network the TCP control connection, the UDP input connection
// and the video listener; through the relay the TLS stream with its registration preamble and the
// relay's replies. It dials, re-dials after a failure, follows a redirect, and counts received bytes;
// what the bytes mean is the client's business. Client thread only.
//
// Generations: `generation()` grows whenever the links are replaced or abandoned; every link callback
// and every delayed re-dial carries the generation it was made in and does nothing once it is stale.
class SessionLinks : private VideoListener::Sink {
public:
    // What the links ask of the client.
    class Host {
    public:
        virtual ~Host() = default;
        // The control connection or the relay stream is up (the registration sent): time for Hello.
        virtual void linkReady() = 0;
        // The agent's computer refused the control connection: nothing listens there. True when the
        // client ends the attempt for it; false: it is dialled again, as while waiting.
        virtual bool controlRefused() = 0;
        // The control connection found no one to answer it (no route, no reply). True when the client
        // takes another way; false: it is dialled again.
        virtual bool controlUnanswered() = 0;
        // A new link replaces the old one: nothing of the old session or its bytes may linger.
        virtual void linkReplaced() = 0;
        // Bytes of the control connection or the relay stream, for the frame reader.
        virtual void received(wex::ByteView data) = 0;
        // One datagram that reached the video listener.
        virtual void videoDatagram(wex::ByteView datagram) = 0;
        // The video port stayed held by another program: no picture can arrive on the local network.
        virtual void videoPortUnavailable(uint16_t port) = 0;
        virtual void setStatus(std::string_view text) = 0;
        // The session is being re-dialled.
        virtual void markReconnecting() = 0;
    };

    SessionLinks(Host& host, const ClientConfig& config, Scheduler& clock);
    ~SessionLinks() override;
    SessionLinks(const SessionLinks&) = delete;
    SessionLinks& operator=(const SessionLinks&) = delete;

    // Dials an agent on the local network: the video listener, the input connection and the control
    // connection.
    void dialLan(const std::string& host, uint16_t controlPort);
    // Dials the relay for `room` (kept in lower case) with `identity`.
    void dialRelay(const std::string& room, const wex::RelayIdentity& identity);
    // Dials the control connection or the relay stream afresh, at once or after `delay`; the links in
    // place are abandoned (their close is no failure to react to).
    void restart();
    void restartAfter(Duration delay);

    // Abandons the connections and stops re-dialling; the input connection and video listener stay.
    void halt();
    // Abandons every link.
    void closeAll();
    // Closes the connections as a failure, keeping the generation: their state handlers re-dial.
    void cancel();

    // Sends on the control connection or the relay stream.
    void send(wex::ByteView frame);
    // A sealed input batch: a datagram to the agent's input port, or on the relay stream.
    void sendInput(wex::ByteView frame);
    // The connection the session runs on, when it is up.
    const StreamLink* sessionLink() const;

    uint64_t generation() const { return gen_; }
    bool isRelay() const { return isRelay_; }
    const std::string& host() const { return agentHost_; }
    const std::string& relayRoom() const { return relayRoom_; }
    const wex::RelayIdentity& relayIdentity() const { return relayIdentity_; }
    int64_t receivedBytes() const { return rxBytes_; }
    uint16_t boundVideoPort() const { return video_.boundPort(); }

private:
    void retireBoth();
    void redialAfter(Duration delay, std::function<void()> redial);

    void startControl();
    // The agent's host did not take the control connection (yet): says so and dials it again shortly.
    void waitForControl();
    void startInput();
    void startRelay(const std::string& room);
    void onControlState(uint64_t g, StreamLink::State state);
    void onRelayState(uint64_t g, const std::string& room, StreamLink::State state, const QString& detail);
    void onRelayData(uint64_t g, StreamLink* link, wex::ByteView data);
    void applyRelayRedirect(const std::string& text);
    void videoDatagram(wex::ByteView datagram) override;
    void videoPortUnavailable(uint16_t port) override { host_.videoPortUnavailable(port); }

    Host& host_;
    ClientConfig config_;
    Scheduler& clock_;
    OwnerThread thread_;
    HostLookups lookups_; // the links' names, which the agent's and the relay's are
    QList<QSslCertificate> relayCas_;
    VideoListener video_;

    LinkPtr control_;
    LinkPtr relay_;
    std::unique_ptr<QUdpSocket, DeleteLater> input_;
    HostDial::Ptr inputDial_; // after its socket, so that it goes first
    bool isRelay_ = false;
    std::string agentHost_ = "127.0.0.1";
    uint16_t controlPort_ = 0;
    uint64_t gen_ = 0;
    int64_t rxBytes_ = 0;
    std::unique_ptr<Timer> redialTimer_;

    // Relay.
    std::string relayRoom_;
    wex::RelayIdentity relayIdentity_;
    RelayReplyReader relayReply_;
};

} // namespace dovrel::controller
