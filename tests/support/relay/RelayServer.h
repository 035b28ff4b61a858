#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>

#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>

#include "protocol/Bytes.h"
#include "tests/support/relay/RelayOptions.h"
#include "tests/support/relay/RelayRegistration.h"

namespace dovrel::test::relay {

class RelayServer;

// One TLS connection to the relay: its registration, then, once spliced, one half of a controller-agent
// pair whose bytes it forwards unchanged.
class RelayPeer final : public QObject {
    Q_OBJECT
public:
    enum class Phase { preamble, proving, registered, spliced, closed };

    RelayPeer(RelayServer& server, QSslSocket* socket);

    Phase phase() const { return phase_; }
    const Registration& registration() const { return *reg_; }
    // "role=agent version=2 account=a room=r" for the event log.
    std::string describe() const;

    // Joins this registered peer to its partner: bytes either sent before now go across first.
    void spliceWith(RelayPeer* partner);
    // Flushes what is queued for the peer, then closes; nothing more is read or forwarded.
    void close();

private:
    void start();
    void onReadyRead();
    void onClosed();
    void process();
    void refuse(const std::string& reason);
    void registerNow();
    void partnerLeft();

    RelayServer& server_;
    QSslSocket* socket_; // owned as a child
    Phase phase_ = Phase::preamble;
    bool ended_ = false;
    wex::Bytes buffer_; // the preamble so far, then stream bytes held until the splice
    std::optional<Registration> reg_;
    wex::Bytes nonce_;
    QPointer<RelayPeer> partner_;
    QTimer deadline_;
};

// Accepts TLS connections, registers agents and controllers by room and splices one controller to each
// agent registration. Every step is printed as one line on standard output (see emitEvent).
class RelayServer final : public QObject {
    Q_OBJECT
public:
    RelayServer(RelayOptions options, const QSslConfiguration& tls);

    bool listen(std::string& error);
    uint16_t port() const { return server_.serverPort(); }
    const RelayOptions& options() const { return options_; }

    // A peer completed its registration (and proof).
    void registered(RelayPeer* peer);
    // A registered peer that was not spliced closed.
    void gone(RelayPeer* peer);

private:
    void acceptPending();

    QSslServer server_;
    RelayOptions options_;
    std::map<std::string, QPointer<RelayPeer>> idleAgents_;
    std::map<std::string, std::deque<QPointer<RelayPeer>>> waitingClients_;
};

// One line on standard output, flushed at once: tests wait for these.
void emitEvent(const std::string& line);

// The server's TLS settings from PEM files; an error text says what could not be loaded.
std::optional<QSslConfiguration> loadServerTls(const std::string& certFile, const std::string& keyFile,
                                               std::string& error);

} // namespace dovrel::test::relay
