#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QAbstractSocket>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

#include "runtime/Scheduler.h"
#include "runtime/net/HostLookups.h"

namespace dovrel {

// Connects a Qt socket to a host given by name or by address. A name is looked up through `lookups`,
// never by Qt (HostLookups says why), and its addresses are tried in turn until one takes the
// connection; each but the last has an equal share of the dial's time left when its turn comes, so that
// one that swallows packets does not hold the others up until the system gives up on it (minutes). The
// socket's errors reach the owner through `failed` alone: before the connection stands only the last
// address's (HostNotFoundError when the name has none), afterwards every one. Lives on the socket's
// thread.
class HostDial final : public QObject {
public:
    // Starts the socket's connection to one address: connectToHost, or connectToHostEncrypted with the
    // host's own name for the certificate.
    using Connect = std::function<void(const QHostAddress& address)>;
    using Failed = std::function<void(QAbstractSocket::SocketError error, const QString& why)>;

    // Stops the dial, which may be inside one of its own calls, and lets it go from the event loop.
    struct Release {
        void operator()(HostDial* dial) const;
    };
    using Ptr = std::unique_ptr<HostDial, Release>;

    // A dial's time when its owner has no time-out of its own for it: many round trips across the world,
    // and well within the two minutes the system gives a connection before it gives up.
    static constexpr std::chrono::seconds usualTime{20};

    // `time`: what the whole dial has, the lookup included, on `clock`; the last address is left to the
    // socket and the owner.
    static Ptr make(HostLookups& lookups, Scheduler& clock, Duration time, QAbstractSocket& socket, Connect connect,
                    Failed failed);
    ~HostDial() override;

    // An address is connected to at once; a name once it has been looked up.
    void start(const std::string& host);
    // Nothing more is tried or reported.
    void stop();

private:
    HostDial(HostLookups& lookups, Scheduler& clock, Duration time, QAbstractSocket& socket, Connect connect,
             Failed failed);
    void tryNext();
    void onError(QAbstractSocket::SocketError error);

    HostLookups& lookups_;
    Scheduler& clock_;
    const Duration time_;
    Instant deadline_{};
    std::unique_ptr<Timer> turn_;
    QPointer<QAbstractSocket> socket_;
    Connect connect_;
    Failed failed_;
    std::shared_ptr<HostLookups::Lookup> lookup_;
    std::vector<QHostAddress> addresses_;
    std::size_t next_ = 0;
    bool connected_ = false;
    bool stopped_ = false;
};

} // namespace dovrel
