#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <QSslConfiguration>

#include "agent/core/RelayEndpoint.h"
#include "protocol/Bytes.h"
#include "protocol/RelayIdentity.h"
#include "runtime/Scheduler.h"
#include "runtime/net/HostLookups.h"

class QObject;

namespace dovrel::agent {

// Where and as whom the relay link registers. Written at start-up, by sign-in and by the link itself
// (redirects, re-pointing); read from any thread (the pairing link is built on the main thread).
class RelayIdentityCell {
public:
    wex::RelayIdentity get() const {
        const std::lock_guard guard(lock_);
        return value_;
    }
    void set(wex::RelayIdentity value) {
        const std::lock_guard guard(lock_);
        value_ = std::move(value);
    }
    void setEndpoint(const std::string& host, uint16_t port) {
        const std::lock_guard guard(lock_);
        value_.host = host;
        value_.port = port;
    }

private:
    mutable std::mutex lock_;
    wex::RelayIdentity value_;
};

// The agent's one TLS connection to the relay service, registered under a room named by its device
// identifier: dialling, the registration preamble (version 2 with account, token and key when an account
// is set, else version 1), the ownership challenge, redirects, the watchdog that keeps the registration
// alive and re-pointing to another region. Every byte the relay sends after the registration replies
// belongs to a controller the relay spliced in; the link hands those bytes to its owner and leaves the
// session to it.
//
// Each connection has a generation number (ConnId); every socket handler checks that its connection is
// still the current one, and a connection the link has let go of is detached first, so an old
// connection's late events never act on a newer one. The owner names connections by the same number.
//
// Everything runs on the owner's thread ("dovrel.net"): the sockets and timers are created there.
class TransportRelayLink {
public:
    using ConnId = uint64_t;
    using Signer = std::function<wex::Bytes(wex::ByteView)>;

    struct Hooks {
        // Controller bytes arrived on connection `conn`.
        std::function<void(ConnId conn, wex::ByteView bytes)> controllerBytes;
        // Connection `conn` is gone: the relay closed it, it failed, or the link replaced it. `reason` is
        // what the session's teardown line names.
        std::function<void(ConnId conn, const std::string& reason)> ended;
        // Connection `conn` has written some of what it held: room for more.
        std::function<void(ConnId conn)> writable;
    };

    // `context` is a QObject of the owner thread; `testCaFile`, when not empty, names PEM certificates
    // trusted in addition to the system's (never instead of them, and host names are still verified).
    // A relay host given by name is looked up through `resolver` and dialled by its addresses, the
    // certificate still checked against the name.
    TransportRelayLink(QObject* context, Scheduler& clock, RelayIdentityCell& identity, const std::string& testCaFile,
                       std::shared_ptr<HostResolver> resolver, Hooks hooks);
    ~TransportRelayLink();
    TransportRelayLink(const TransportRelayLink&) = delete;
    TransportRelayLink& operator=(const TransportRelayLink&) = delete;

    void setCredentials(wex::Bytes publicKey, Signer signer);

    // (Re)dials the relay for this room; the current connection, if any, is closed (a session on it ends).
    void start(const std::string& room);
    // Moves the link to another relay host; nothing when it is the one in use.
    void repoint(const RelayEndpoint& to);

    // Writes on connection `conn` when it is still the current, registered one; false otherwise.
    bool write(ConnId conn, wex::ByteView bytes, bool flushNow = true);
    void flush(ConnId conn);
    // Bytes connection `conn` holds that are not yet on the network; 0 when it is not current.
    std::size_t backlog(ConnId conn) const;
    // The socket of connection `conn`; -1 when it is not current.
    int descriptor(ConnId conn) const;
    // The owner is done with connection `conn` (its controller was dropped or refused): what was written
    // still goes out, then it closes, and the room registers afresh `redialAfter` later. Nothing when
    // `conn` is not the current connection.
    void retire(ConnId conn, Duration redialAfter);

    // Closes everything without a word or a callback; for the owner's end.
    void shutdown();

private:
    struct Conn;

    void dial();
    // `reason`: the teardown of a session on it (empty: none). `replaced`: the link is let go of by the
    // agent (replaced, re-pointed, redirected, its client dropped), which the log says as "relay
    // cancelled" like any other end of a link; a failure has already said its own line.
    void cancelCurrent(const std::string& reason, bool replaced);
    void scheduleDial(Duration after);
    void startWatchdog();
    void watchdogTick();
    void applyRedirect(const std::string& target);

    Conn* live(ConnId id) const; // the current connection when it is `id`
    void onConnected(ConnId id);
    void onReady(ConnId id);
    void onReadable(ConnId id);
    void onBytes(ConnId id, wex::ByteView bytes);
    void onError(ConnId id, int error, const std::string& why);
    void onClosed(ConnId id);
    void lost(ConnId id, const std::string& stateText, const char* firstReason);

    QObject* context_;
    Scheduler& clock_;
    RelayIdentityCell& identity_;
    Hooks hooks_;
    QSslConfiguration tls_;
    HostLookups lookups_;

    wex::Bytes pubKey_;
    Signer signer_;

    std::unique_ptr<Conn> conn_;
    ConnId lastId_ = 0;
    std::string room_;
    bool healthy_ = false;
    Instant readyAt_{};
    Instant dialedAt_{};
    std::unique_ptr<Timer> watchdog_;
    std::unique_ptr<Timer> pendingDial_;
};

} // namespace dovrel::agent
