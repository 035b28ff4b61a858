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

namespace dovrel::controller {

// HTTP over QNetworkAccessManager on the calling thread (the main thread in the program), with the
// system's certificate store; host names are verified. A host name is looked up through `resolver`
// and the request sent to its first address. Lives on one thread.
class QtHttpClient final : public HttpClient {
public:
    // `extraCaFile`: PEM certificates trusted beside the system's (a test authority); empty for none.
    explicit QtHttpClient(std::shared_ptr<HostResolver> resolver, const std::string& extraCaFile = {});
    ~QtHttpClient() override;

    void send(const HttpRequest& request, std::function<void(const HttpResponse&)> done) override;

private:
    HostLookups lookups_;
    std::unique_ptr<QNetworkAccessManager> manager_;
    QList<QSslCertificate> trusted_;
    // The names being looked up, to forget when the client goes first.
    std::map<uint64_t, std::shared_ptr<HostLookups::Lookup>> looking_;
    uint64_t lastLookup_ = 0;
};

} // namespace dovrel::controller
