#include "agent/accounts/AccountApi.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QSslConfiguration>

#include "protocol/LogText.h"
#include "protocol/WEXConstants.h"
#include "runtime/net/AddressedRequest.h"

namespace dovrel::agent {

struct AccountApi::Pending {
    Done done;
    std::unique_ptr<Timer> deadline;
    AddressedRequest::Ptr request;
};

AccountApi::AccountApi(Options options)
    : options_(std::move(options)), scheduler_(options_.scheduler ? *options_.scheduler : realScheduler()),
      lookups_(options_.resolver ? options_.resolver : makeSystemResolver()), context_(std::make_unique<QObject>()),
      network_(std::make_unique<QNetworkAccessManager>()) {
    if (!options_.caFile.empty())
        extraAuthorities_ = QSslCertificate::fromPath(QString::fromStdString(options_.caFile), QSsl::Pem);
}

AccountApi::~AccountApi() {
    pending_.clear(); // lookups forgotten and replies let go while the receiver and the network still stand
    context_.reset();
    network_.reset();
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

    const uint64_t id = ++lastId_;
    auto pending = std::make_unique<Pending>();
    pending->done = std::move(done);
    pending->deadline = scheduler_.after(options_.timeout, [this, id] { cutShort(id, "The request timed out."); });
    const auto limit = static_cast<qint64>(options_.maxAnswerBytes);
    pending->request = AddressedRequest::make(
        lookups_, scheduler_, options_.timeout,
        [this, id, limit, body = QJsonDocument(body).toJson(QJsonDocument::Compact)](const QNetworkRequest& r) {
            QNetworkReply* reply = network_->post(r, body);
            QObject::connect(reply, &QNetworkReply::downloadProgress, context_.get(),
                             [this, id, limit](qint64 received, qint64) {
                                 if (received > limit) cutShort(id, "The relay's answer was too large.");
                             });
            return reply;
        },
        [this, id, host = url.host().toStdString()](QNetworkReply* reply) {
            // In the words the network's own failures come in.
            if (!reply) return cutShort(id, "Host " + host + " not found");
            finish(id, reply);
        });
    AddressedRequest& sending = *pending->request;
    pending_.emplace(id, std::move(pending));
    sending.start(std::move(request));
}

// Ends the exchange without its answer: not from inside a reply's own signal or the deadline's callback.
void AccountApi::cutShort(uint64_t id, std::string why) {
    const auto found = pending_.find(id);
    if (found == pending_.end() || !found->second->request) return;
    found->second->request.reset();
    found->second->deadline.reset();
    QMetaObject::invokeMethod(
        context_.get(), [this, id, why = std::move(why)] { fail(id, why); }, Qt::QueuedConnection);
}

void AccountApi::fail(uint64_t id, std::string message) {
    const auto found = pending_.find(id);
    if (found == pending_.end()) return;
    const std::unique_ptr<Pending> pending = std::move(found->second);
    pending_.erase(found);
    if (pending->done) pending->done(ApiOutcome::failure(std::move(message)));
}

void AccountApi::finish(uint64_t id, QNetworkReply* reply) {
    reply->deleteLater();
    const auto found = pending_.find(id);
    if (found == pending_.end()) return;
    std::unique_ptr<Pending> pending = std::move(found->second);
    pending_.erase(found);

    ApiOutcome outcome;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
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
