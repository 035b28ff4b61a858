#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include <QHostAddress>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>

#include "runtime/Scheduler.h"
#include "runtime/net/HostLookups.h"

class QNetworkReply;

namespace dovrel {

// One HTTP request whose URL names a host, sent without Qt looking the name up (HostLookups says why):
// to the name's addresses in turn, as a dial tries them, until one takes it, so that an address that
// swallows packets (often the first, an IPv6 one on a network without IPv6) fails nothing by itself.
// Each address but the last has an equal share of the request's time left when its turn comes, and is
// given up for the next when the share runs out, or when it fails, before the request went out over it;
// the last is left to the caller's own time. Addressed, the URL carries the address while the Host
// header and the name the certificate must hold stay the host's; it goes over HTTP/1.1, as HTTP/2 would
// name the address as the authority. A URL that holds an address is sent as it is. Lives on the thread
// that made it, which runs a Qt event loop.
class AddressedRequest final : public QObject {
public:
    // Sends one attempt through the caller's network access manager (post, get...).
    using Send = std::function<QNetworkReply*(const QNetworkRequest& request)>;
    // The finished reply of the address that took the request, or of the last one tried, for the caller
    // to read and let go; null when the name has no address.
    using Done = std::function<void(QNetworkReply* reply)>;

    // Stops the request, which may be inside one of its own calls, and lets it go from the event loop.
    struct Release {
        void operator()(AddressedRequest* request) const;
    };
    using Ptr = std::unique_ptr<AddressedRequest, Release>;

    // `time`: what the whole request has, the lookup included, on `clock`.
    static Ptr make(HostLookups& lookups, Scheduler& clock, Duration time, Send send, Done done);
    ~AddressedRequest() override;

    void start(QNetworkRequest request);
    // Nothing more is sent or reported; the attempt under way is aborted.
    void stop();

private:
    AddressedRequest(HostLookups& lookups, Scheduler& clock, Duration time, Send send, Done done);
    void tryNext();
    void onFinished(QNetworkReply* reply);
    void dropAttempt();

    HostLookups& lookups_;
    Scheduler& clock_;
    const Duration time_;
    Send send_;
    Done done_;
    QNetworkRequest request_;
    Instant deadline_{};
    std::shared_ptr<HostLookups::Lookup> lookup_;
    std::vector<QHostAddress> addresses_;
    bool literal_ = false; // the URL holds its address
    std::size_t next_ = 0;
    QPointer<QNetworkReply> attempt_;
    std::unique_ptr<Timer> turn_;
    bool taken_ = false;
    bool stopped_ = false;
};

} // namespace dovrel
