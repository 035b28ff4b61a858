#include "controller/platform/QtHttpClient.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>

namespace dovrel::controller {

QtHttpClient::QtHttpClient(const std::string& extraCaFile) : manager_(std::make_unique<QNetworkAccessManager>()) {
    if (!extraCaFile.empty()) {
        trusted_ = QSslConfiguration::systemCaCertificates();
        trusted_ += QSslCertificate::fromPath(QString::fromStdString(extraCaFile));
    }
}

QtHttpClient::~QtHttpClient() {
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
    QNetworkReply* reply = request.body.isEmpty() && request.method == "GET"
                               ? manager_->get(r)
                               : manager_->sendCustomRequest(r, request.method, request.body);
    QObject::connect(reply, &QNetworkReply::finished, manager_.get(), [reply, done = std::move(done)] {
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
