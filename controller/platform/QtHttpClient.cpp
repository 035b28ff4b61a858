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
    for (auto& [id, lookup] : looking_)
        lookup->forget();
    // Replies still running are aborted with the manager; their callbacks must not run after us.
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
    const uint64_t id = ++lastLookup_;
    auto lookup = addressRequest(lookups_, manager_.get(), r,
                                 [this, id, host = request.url.host(), method = request.method, body = request.body,
                                  done = std::move(done)](std::optional<QNetworkRequest> addressed) {
                                     looking_.erase(id);
                                     if (!addressed) {
                                         HttpResponse response;
                                         response.transportError =
                                             QStringLiteral("Host %1 not found").arg(host); // as the network says it
                                         return done(response);
                                     }
                                     QNetworkReply* reply = body.isEmpty() && method == "GET"
                                                                ? manager_->get(*addressed)
                                                                : manager_->sendCustomRequest(*addressed, method, body);
                                     QObject::connect(reply, &QNetworkReply::finished, manager_.get(), [reply, done] {
                                         reply->deleteLater();
                                         HttpResponse response;
                                         const QVariant status =
                                             reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
                                         if (status.isValid()) {
                                             // An answer of any status: the body tells the caller what the service
                                             // meant.
                                             response.status = status.toInt();
                                             response.body = reply->readAll();
                                         } else {
                                             response.transportError = reply->errorString();
                                         }
                                         done(response);
                                     });
                                 });
    if (lookup) looking_.emplace(id, std::move(lookup));
}

} // namespace dovrel::controller
