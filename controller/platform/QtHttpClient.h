#pragma once

#include <memory>
#include <string>

#include <QList>
#include <QSslCertificate>

#include "controller/platform/HttpClient.h"

class QNetworkAccessManager;

namespace dovrel::controller {

// HTTP over QNetworkAccessManager on the calling thread (the main thread in the program), with the
// system's certificate store; host names are verified. Lives on one thread.
class QtHttpClient final : public HttpClient {
public:
    // `extraCaFile`: PEM certificates trusted beside the system's (a test authority); empty for none.
    explicit QtHttpClient(const std::string& extraCaFile = {});
    ~QtHttpClient() override;

    void send(const HttpRequest& request, std::function<void(const HttpResponse&)> done) override;

private:
    std::unique_ptr<QNetworkAccessManager> manager_;
    QList<QSslCertificate> trusted_;
};

} // namespace dovrel::controller
