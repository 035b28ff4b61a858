#include "agent/accounts/AccountApi.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QSslConfiguration>

#include "protocol/LogText.h"
#include "protocol/WEXConstants.h"

namespace dovrel::agent {

struct AccountApi::Pending {
    Done done;
    std::unique_ptr<Timer> deadline;
    const char* cutShort = nullptr; // why we aborted the exchange ourselves, if we did
};

AccountApi::AccountApi(Options options)
    : options_(std::move(options)), scheduler_(options_.scheduler ? *options_.scheduler : realScheduler()),
      context_(std::make_unique<QObject>()), network_(std::make_unique<QNetworkAccessManager>()) {
    if (!options_.caFile.empty())
        extraAuthorities_ = QSslCertificate::fromPath(QString::fromStdString(options_.caFile), QSsl::Pem);
}

AccountApi::~AccountApi() {
    context_.reset(); // no reply reaches finish() from here on
    for (auto& [reply, pending] : pending_) {
        pending->deadline.reset();
        reply->abort();
    }
    pending_.clear();
    network_.reset(); // deletes the replies, its children
}

std::optional<QUrl> AccountApi::address(const std::string& host, uint16_t port, const std::string& path) {
    const QUrl url(QString::fromStdString(wex::WEX::apiBase(host, port) + path), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty()) return std::nullopt;
    return url;
}

bool AccountApi::isHeaderSafe(const std::string& token) {
    for (const unsigned char c : token)
        if (c < 0x21 || c > 0x7E) return false;
    return true;
}

std::string AccountApi::printable(const std::string& text) { return wex::logText(text, wex::maxLogTextBytes, ' '); }

void AccountApi::post(const QUrl& url, const std::string& bearer, const QJsonObject& body, Done done) {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    if (!bearer.empty())
        request.setRawHeader("Authorization", QByteArray("Bearer ") + QByteArray::fromStdString(bearer));
    // A redirect would carry the bearer token to wherever the answer points: never follow one.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (!extraAuthorities_.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(extraAuthorities_);
        request.setSslConfiguration(tls);
    }

    QNetworkReply* reply = network_->post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    auto pending = std::make_unique<Pending>();
    pending->done = std::move(done);
    pending->deadline =
        scheduler_.after(options_.timeout, [this, reply] { cutShort(reply, "The request timed out."); });
    pending_.emplace(reply, std::move(pending));

    const auto limit = static_cast<qint64>(options_.maxAnswerBytes);
    QObject::connect(reply, &QNetworkReply::downloadProgress, context_.get(),
                     [this, reply, limit](qint64 received, qint64) {
                         if (received > limit) cutShort(reply, "The relay's answer was too large.");
                     });
    QObject::connect(reply, &QNetworkReply::finished, context_.get(), [this, reply] { finish(reply); });
}

void AccountApi::cutShort(QNetworkReply* reply, const char* why) {
    const auto found = pending_.find(reply);
    if (found == pending_.end() || found->second->cutShort) return;
    found->second->cutShort = why;
    // Not from inside the reply's own signal or this timer's callback: the abort finishes the reply.
    QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
}

void AccountApi::finish(QNetworkReply* reply) {
    const auto found = pending_.find(reply);
    if (found == pending_.end()) return;
    std::unique_ptr<Pending> pending = std::move(found->second);
    pending_.erase(found);
    pending->deadline.reset();
    reply->deleteLater();

    ApiOutcome outcome;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (pending->cutShort) {
        outcome = ApiOutcome::failure(pending->cutShort);
    } else if (!status.isValid()) {
        // No HTTP answer at all: the network's own description (refused, unreachable, TLS failure).
        outcome = ApiOutcome::failure(reply->errorString().toStdString());
    } else {
        const QJsonDocument doc = QJsonDocument::fromJson(reply->readAll());
        const QJsonObject object = doc.isObject() ? doc.object() : QJsonObject();
        const int code = status.toInt();
        if (code == 200) {
            outcome = ApiOutcome::success(object);
        } else if (const QJsonValue error = object.value("error"); error.isString()) {
            outcome = ApiOutcome::failure(printable(error.toString().toStdString()));
        } else {
            outcome = ApiOutcome::failure("The relay refused (" + std::to_string(code) + ").");
        }
    }
    if (pending->done) pending->done(std::move(outcome));
}

} // namespace dovrel::agent
