#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <QList>
#include <QSslCertificate>

#include "controller/platform/HttpClient.h"
#include "runtime/Scheduler.h"
#include "runtime/net/AddressedRequest.h"
#include "runtime/net/HostLookups.h"

class QNetworkAccessManager;

namespace dovrel::controller {

// HTTP over QNetworkAccessManager on the calling thread (the main thread in the program), with the
// system's certificate store; host names are verified. A host name is looked up through `resolver`
// (within the request's time-out) and its addresses tried in turn, each with a share of the time-out
// (AddressedRequest says how). Lives on one thread.
class QtHttpClient final : public HttpClient {
public:
    // `extraCaFile`: PEM certificates trusted beside the system's (a test authority); empty for none.
    explicit QtHttpClient(std::shared_ptr<HostResolver> resolver, const std::string& extraCaFile = {});
    ~QtHttpClient() override;

    void send(const HttpRequest& request, std::function<void(const HttpResponse&)> done) override;

private:
    // A request not yet answered.
    struct Sending {
        std::function<void(const HttpResponse&)> done;
        AddressedRequest::Ptr request;
        std::unique_ptr<Timer> lookupTime; // until its host's name gave an address
    };
    void finish(uint64_t id, const HttpResponse& response);

    HostLookups lookups_;
    std::unique_ptr<QNetworkAccessManager> manager_;
    QList<QSslCertificate> trusted_;
    std::map<uint64_t, std::unique_ptr<Sending>> sending_;
    uint64_t lastId_ = 0;
};

} // namespace dovrel::controller
