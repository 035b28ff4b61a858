#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <QList>
#include <QSslCertificate>

#include "controller/platform/HttpClient.h"
#include "runtime/net/HostLookups.h"

class QNetworkAccessManager;
class QNetworkRequest;

namespace dovrel::controller {

// HTTP over QNetworkAccessManager on the calling thread (the main thread in the program), with the
// system's certificate store; host names are verified. A host name is looked up through `resolver`
// (within the request's time-out) and the request sent to its first address. Lives on one thread.
class QtHttpClient final : public HttpClient {
public:
    // `extraCaFile`: PEM certificates trusted beside the system's (a test authority); empty for none.
    explicit QtHttpClient(std::shared_ptr<HostResolver> resolver, const std::string& extraCaFile = {});
    ~QtHttpClient() override;

    void send(const HttpRequest& request, std::function<void(const HttpResponse&)> done) override;

private:
    // A request whose host's name is being looked up.
    struct Looking {
        std::shared_ptr<HostLookups::Lookup> lookup;
        std::function<void(const HttpResponse&)> done;
    };
    void dispatch(const QNetworkRequest& request, const QByteArray& method, const QByteArray& body,
                  const std::function<void(const HttpResponse&)>& done);

    HostLookups lookups_;
    std::unique_ptr<QNetworkAccessManager> manager_;
    QList<QSslCertificate> trusted_;
    std::map<uint64_t, std::unique_ptr<Looking>> looking_;
    uint64_t lastLookup_ = 0;
};

} // namespace dovrel::controller
