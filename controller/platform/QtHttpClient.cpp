#include "controller/platform/QtHttpClient.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>

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
    for (auto& [id, looking] : looking_)
        if (looking->lookup) looking->lookup->forget();
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
    // The lookup has the request's time too: a resolver that never answers fails it like a silent server.
    const uint64_t id = ++lastLookup_;
    looking_.emplace(id, std::make_unique<Looking>()).first->second->done = std::move(done);
    auto lookup = addressRequest(lookups_, manager_.get(), r,
                                 [this, id, host = request.url.host(), method = request.method,
                                  body = request.body](std::optional<QNetworkRequest> addressed) {
                                     const auto found = looking_.find(id);
                                     if (found == looking_.end()) return;
                                     const auto finished = std::move(found->second->done);
                                     looking_.erase(found);
                                     if (addressed) return dispatch(*addressed, method, body, finished);
                                     HttpResponse response;
                                     response.transportError = QStringLiteral("Host %1 not found").arg(host);
                                     finished(response);
                                 });
    const auto found = looking_.find(id);
    if (!lookup || found == looking_.end()) return;
    found->second->lookup = std::move(lookup);
    QTimer::singleShot(request.timeout, manager_.get(), [this, id, host = request.url.host()] {
        const auto late = looking_.find(id);
        if (late == looking_.end()) return;
        late->second->lookup->forget();
        const auto finished = std::move(late->second->done);
        looking_.erase(late);
        HttpResponse response;
        response.transportError = QStringLiteral("Host %1 was not found in time").arg(host);
        finished(response);
    });
}

void QtHttpClient::dispatch(const QNetworkRequest& request, const QByteArray& method, const QByteArray& body,
                            const std::function<void(const HttpResponse&)>& done) {
    QNetworkReply* reply =
        body.isEmpty() && method == "GET" ? manager_->get(request) : manager_->sendCustomRequest(request, method, body);
    QObject::connect(reply, &QNetworkReply::finished, manager_.get(), [reply, done] {
        reply->deleteLater();
        HttpResponse response;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid()) {
            // An answer of any status: the body tells the caller what the service meant.
            response.status = status.toInt();
            response.body = reply->readAll();
        } else {
            response.transportError = reply->errorString();
        }
        done(response);
    });
}

} // namespace dovrel::controller
