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
    QByteArray body;
    std::unique_ptr<Timer> deadline;
    std::shared_ptr<HostLookups::Lookup> lookup; // while the host's name is looked up
    QNetworkReply* reply = nullptr;              // once sent
    const char* cutShort = nullptr;              // why we aborted the exchange ourselves, if we did
};

AccountApi::AccountApi(Options options)
    : options_(std::move(options)), scheduler_(options_.scheduler ? *options_.scheduler : realScheduler()),
      lookups_(options_.resolver ? options_.resolver : makeSystemResolver()), context_(std::make_unique<QObject>()),
      network_(std::make_unique<QNetworkAccessManager>()) {
    if (!options_.caFile.empty())
        extraAuthorities_ = QSslCertificate::fromPath(QString::fromStdString(options_.caFile), QSsl::Pem);
}

AccountApi::~AccountApi() {
    // The lookups are forgotten while their receiver still stands: one may be delivering right now.
    for (auto& [id, pending] : pending_)
        if (pending->lookup) pending->lookup->forget();
    context_.reset(); // no reply or lookup reaches this object from here on
    for (auto& [id, pending] : pending_) {
        pending->deadline.reset();
        if (pending->reply) pending->reply->abort();
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

    const uint64_t id = ++lastId_;
    auto pending = std::make_unique<Pending>();
    pending->done = std::move(done);
    pending->body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    pending->deadline = scheduler_.after(options_.timeout, [this, id] { cutShort(id, "The request timed out."); });
    pending_.emplace(id, std::move(pending));
    auto lookup = addressRequest(lookups_, context_.get(), std::move(request),
                                 [this, id, host = url.host().toStdString()](std::optional<QNetworkRequest> addressed) {
                                     // In the words the network's own failures come in.
                                     if (!addressed) return fail(id, "Host " + host + " not found");
                                     send(id, *addressed);
                                 });
    if (const auto found = pending_.find(id); lookup && found != pending_.end())
        found->second->lookup = std::move(lookup);
}

void AccountApi::send(uint64_t id, const QNetworkRequest& request) {
    const auto found = pending_.find(id);
    if (found == pending_.end()) return;
    Pending& p = *found->second;
    p.lookup.reset();
    QNetworkReply* reply = network_->post(request, p.body);
    p.reply = reply;
    const auto limit = static_cast<qint64>(options_.maxAnswerBytes);
    QObject::connect(reply, &QNetworkReply::downloadProgress, context_.get(),
                     [this, id, limit](qint64 received, qint64) {
                         if (received > limit) cutShort(id, "The relay's answer was too large.");
                     });
    QObject::connect(reply, &QNetworkReply::finished, context_.get(), [this, id] { finish(id); });
}

void AccountApi::cutShort(uint64_t id, const char* why) {
    const auto found = pending_.find(id);
    if (found == pending_.end() || found->second->cutShort) return;
    Pending& p = *found->second;
    p.cutShort = why;
    // Not from inside the reply's own signal or this timer's callback: the abort finishes the reply.
    if (p.reply) {
        QMetaObject::invokeMethod(p.reply, &QNetworkReply::abort, Qt::QueuedConnection);
        return;
    }
    if (p.lookup) p.lookup->forget();
    p.lookup.reset();
    QMetaObject::invokeMethod(
        context_.get(), [this, id, why] { fail(id, why); }, Qt::QueuedConnection);
}

void AccountApi::fail(uint64_t id, std::string message) {
    const auto found = pending_.find(id);
    if (found == pending_.end()) return;
    const std::unique_ptr<Pending> pending = std::move(found->second);
    pending_.erase(found);
    if (pending->done) pending->done(ApiOutcome::failure(std::move(message)));
}

void AccountApi::finish(uint64_t id) {
    const auto found = pending_.find(id);
    if (found == pending_.end()) return;
    std::unique_ptr<Pending> pending = std::move(found->second);
    pending_.erase(found);
    pending->deadline.reset();
    QNetworkReply* reply = pending->reply;
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
