#include "controller/platform/QtHttpClient.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>

#include "runtime/net/AddressedRequest.h"

namespace dovrel::controller {

QtHttpClient::QtHttpClient(std::shared_ptr<HostResolver> resolver, const std::string& extraCaFile)
    : lookups_(std::move(resolver)), manager_(std::make_unique<QNetworkAccessManager>()) {
    if (!extraCaFile.empty()) {
        trusted_ = QSslConfiguration::systemCaCertificates();
        trusted_ += QSslCertificate::fromPath(QString::fromStdString(extraCaFile));
    }
}

QtHttpClient::~QtHttpClient() {
    // Lookups are forgotten and the attempts under way let go; their callbacks must not run after us.
    sending_.clear();
    for (QNetworkReply* reply : manager_->findChildren<QNetworkReply*>())
        QObject::disconnect(reply, nullptr, nullptr, nullptr);
}

void QtHttpClient::send(const HttpRequest& request, std::function<void(const HttpResponse&)> done) {
    QNetworkRequest r(request.url);
    for (const auto& [name, value] : request.headers)
        r.setRawHeader(name, value);
    r.setTransferTimeout(static_cast<int>(request.timeout.count()));
    // A redirect is followed only within the same scheme, host and port: a bearer token never travels
    // to a server it was not meant for.
    r.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    if (!trusted_.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(trusted_);
        r.setSslConfiguration(tls);
    }
    const uint64_t id = ++lastId_;
    auto sending = std::make_unique<Sending>();
    sending->done = std::move(done);
    const QString host = request.url.host();
    sending->request = AddressedRequest::make(
        lookups_, realScheduler(), request.timeout,
        [this, id, method = request.method, body = request.body](const QNetworkRequest& addressed) {
            if (const auto found = sending_.find(id); found != sending_.end()) found->second->lookupTime.reset();
            return body.isEmpty() && method == "GET" ? manager_->get(addressed)
                                                     : manager_->sendCustomRequest(addressed, method, body);
        },
        [this, id, host](QNetworkReply* reply) {
            HttpResponse response;
            if (!reply) {
                response.transportError = QStringLiteral("Host %1 not found").arg(host);
            } else if (const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
                       status.isValid()) {
                // An answer of any status: the body tells the caller what the service meant.
                response.status = status.toInt();
                response.body = reply->readAll();
            } else {
                response.transportError = reply->errorString();
            }
            if (reply) reply->deleteLater();
            finish(id, response);
        });
    // The lookup has the request's time too: a resolver that never answers fails it like a silent server.
    sending->lookupTime = realScheduler().after(request.timeout, [this, id, host] {
        HttpResponse response;
        response.transportError = QStringLiteral("Host %1 was not found in time").arg(host);
        finish(id, response);
    });
    AddressedRequest& addressed = *sending->request;
    sending_.emplace(id, std::move(sending));
    addressed.start(std::move(r));
}

void QtHttpClient::finish(uint64_t id, const HttpResponse& response) {
    const auto found = sending_.find(id);
    if (found == sending_.end()) return;
    const auto done = std::move(found->second->done);
    sending_.erase(found);
    done(response);
}

} // namespace dovrel::controller
