#include "controller/services/QuibClient.h"

#include <cmath>
#include <limits>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "controller/services/ApiJson.h"

namespace dovrel::controller {

const QString QuibClient::systemPrompt = QStringLiteral(
    "You are Quib, a writing assistant inside a remote-desktop app. The user gives an instruction and (usually) some "
    "text they selected on their computer. Apply the instruction to that text and return ONLY the resulting text "
    "\u2014 no preamble, no quotation marks, no commentary, no markdown fences. Keep the user's original language "
    "unless the instruction says to translate. If no text is provided, write text that fulfils the instruction.");

namespace {

// An integer member of a JSON object; nothing when absent or of another kind.
std::optional<int> integer(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isDouble()) return std::nullopt;
    const double d = v.toDouble();
    if (d != std::floor(d) || d < std::numeric_limits<int>::min() || d > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(d);
}

// The text at choices[0].message.content of a chat-completions answer.
std::optional<QString> cloudContent(const HttpResponse& response) {
    if (!response.isAnswer() || response.status != 200) return std::nullopt;
    const QJsonDocument doc = QJsonDocument::fromJson(response.body);
    if (!doc.isObject()) return std::nullopt;
    const QJsonValue choices = doc.object().value("choices");
    if (!choices.isArray() || choices.toArray().isEmpty()) return std::nullopt;
    for (const QJsonValue& c : choices.toArray())
        if (!c.isObject()) return std::nullopt;
    const QJsonValue message = choices.toArray().first().toObject().value("message");
    if (!message.isObject()) return std::nullopt;
    const QJsonValue content = message.toObject().value("content");
    if (!content.isString()) return std::nullopt;
    return content.toString().trimmed();
}

} // namespace

QuibClient::QuibClient(std::shared_ptr<HttpClient> http, std::shared_ptr<const StoredRelayAccount> account,
                       std::shared_ptr<UserDefaults> defaults, std::shared_ptr<const WallClock> clock, QUrl endpoint,
                       QObject* parent)
    : QObject(parent), http_(std::move(http)), account_(std::move(account)), defaults_(std::move(defaults)),
      clock_(std::move(clock)), endpoint_(std::move(endpoint)) {}

QuibClient::~QuibClient() = default;

QUrl QuibClient::endpointFor(const QString& host) {
    return QUrl(QStringLiteral("https://") + host + QStringLiteral("/v1/chat/completions"));
}

QString QuibClient::userPrompt(const QString& text, const QString& instruction) {
    const QString trimmed = instruction.trimmed();
    if (text.isEmpty())
        return QStringLiteral("Instruction: ") + trimmed +
               QStringLiteral("\n\nWrite the text now. Output only the text.");
    return QStringLiteral("Instruction: ") + trimmed + QStringLiteral("\n\nText to transform:\n\"\"\"\n") + text +
           QStringLiteral("\n\"\"\"\n\nOutput only the transformed text.");
}

std::optional<int> QuibClient::remainingToday() const {
    // The relay's quota starts afresh at midnight UTC: a count from an earlier day says nothing.
    if (remaining_ && remainingDay_ != clock_->now().toUTC().date()) return std::nullopt;
    return remaining_;
}

void QuibClient::noteRemaining(int remaining) {
    remaining_ = remaining;
    remainingDay_ = clock_->now().toUTC().date();
}

bool QuibClient::signedIn() const {
    const auto session = account_->storedRelayIdentity();
    return session && !session->token.empty();
}

bool QuibClient::cloudConsent() const {
    const auto v = defaults_->string(consentKey);
    return v && (*v == "true" || *v == "1");
}

void QuibClient::setCloudConsent(bool on) { defaults_->setString(consentKey, on ? "true" : "false"); }

AssistantSource QuibClient::currentSource() const {
    // Without consent the cloud is not a source at all: saying "cloud" would promise generations
    // that never leave this computer.
    if (!cloudConsent()) return AssistantSource::unavailable;
    const auto remaining = remainingToday();
    if (account_->storedRelayIdentity() && (!remaining || *remaining > 0)) return AssistantSource::proxy;
    return AssistantSource::unavailable;
}

QString QuibClient::unavailableReason() const {
    if (!cloudConsent())
        return tr("Quib writes in the cloud: your instruction and the text you give it go to the Quib service. "
                  "Allow that below to use it.");
    if (lastRefusal_) return *lastRefusal_;
    return tr("Sign in to use Quib. Five generations a day, then it resets at midnight UTC.");
}

std::optional<QUrl> QuibClient::grantUrl() const {
    const auto session = account_->storedRelayIdentity();
    if (!session) return std::nullopt;
    return apiUrl(QString::fromStdString(session->host), session->port, QStringLiteral("/v1/quib/grant"));
}

void QuibClient::rewrite(const QString& text, const QString& instruction,
                         std::function<void(std::optional<QString>)> done) {
    const QString user = userPrompt(text, instruction);
    const auto remaining = remainingToday();
    if (remaining && *remaining < 1) {
        // There is no model on this computer to fall back to.
        done(std::nullopt);
        return;
    }
    callProxy(user, [done = std::move(done)](std::optional<QString> reply) {
        if (reply && !reply->isEmpty())
            done(reply);
        else
            done(std::nullopt);
    });
}

void QuibClient::spendOneGeneration(std::function<void(std::optional<QString>)> done) {
    const auto session = account_->storedRelayIdentity();
    const auto url = grantUrl();
    if (!url || !session || session->token.empty()) {
        lastRefusal_ = tr("Sign in to use Quib.");
        done(std::nullopt);
        return;
    }
    HttpRequest request;
    request.method = "POST";
    request.url = *url;
    request.headers = {{"Authorization", "Bearer " + QByteArray::fromStdString(session->token)}};
    request.timeout = grantTimeout;
    std::weak_ptr<bool> alive = alive_;
    http_->send(request, [this, alive, done = std::move(done)](const HttpResponse& response) {
        if (alive.expired()) return;
        const QJsonDocument doc = QJsonDocument::fromJson(response.body);
        if (!response.isAnswer() || !doc.isObject()) {
            lastRefusal_ = tr("Could not reach the relay.");
            done(std::nullopt);
            return;
        }
        const QJsonObject o = doc.object();
        if (const auto remaining = integer(o, "remaining")) noteRemaining(*remaining);
        const QJsonValue token = o.value("token");
        if (response.status == 200 && token.isString() && !token.toString().isEmpty()) {
            done(token.toString());
            return;
        }
        const QJsonValue error = o.value("error");
        lastRefusal_ = error.isString() ? error.toString() : tr("Quib is unavailable right now.");
        done(std::nullopt);
    });
}

void QuibClient::callProxy(const QString& user, std::function<void(std::optional<QString>)> done) {
    if (!cloudConsent()) {
        done(std::nullopt);
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    spendOneGeneration([this, alive, user, done = std::move(done)](std::optional<QString> token) mutable {
        if (!token) {
            done(std::nullopt);
            return;
        }
        const QJsonObject body{{"model", "quib-default"},
                               {"messages", QJsonArray{QJsonObject{{"role", "system"}, {"content", systemPrompt}},
                                                       QJsonObject{{"role", "user"}, {"content", user}}}},
                               {"max_tokens", 900},
                               {"temperature", 0.4}};
        HttpRequest request;
        request.method = "POST";
        request.url = endpoint_;
        request.headers = {{"Content-Type", "application/json"}, {"X-App-Token", token->toUtf8()}};
        request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
        request.timeout = cloudTimeout;
        ++inFlight_;
        http_->send(request, [this, alive, done = std::move(done)](const HttpResponse& response) {
            if (alive.expired()) return;
            --inFlight_; // the grant token is spent either way and forgotten with the request
            done(cloudContent(response));
        });
    });
}

} // namespace dovrel::controller
