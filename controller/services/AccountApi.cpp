#include "controller/services/AccountApi.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "controller/services/ApiJson.h"
#include "controller/services/PortText.h"
#include "protocol/WEXConstants.h"

namespace dovrel::controller {

namespace {
constexpr std::chrono::seconds callTimeout{20};
constexpr std::chrono::seconds presenceTimeout{12};
} // namespace

AccountApi::AccountApi(std::shared_ptr<HttpClient> http, QString host, uint16_t port, QString defaultRelayHost,
                       uint16_t defaultRelayPort, QObject* parent)
    : QObject(parent), http_(std::move(http)), host_(std::move(host)), port_(port),
      defaultRelayHost_(std::move(defaultRelayHost)), defaultRelayPort_(defaultRelayPort) {}

std::optional<QUrl> AccountApi::url(const QString& path) const { return apiUrl(host_, port_, path); }

void AccountApi::call(const QString& path, const QString& account, const QString& password, const QString& code,
                      SessionDone done) {
    const auto to = url(path);
    if (!to) return done(ApiResult<RelayAccount::Session>::refused(tr("Bad relay address.")));
    const QJsonObject body{{"account", account.toLower()}, {"password", password}, {"code", code}};
    HttpRequest request{"POST",
                        *to,
                        {{"Content-Type", "application/json"}},
                        QJsonDocument(body).toJson(QJsonDocument::Compact),
                        callTimeout};
    http_->send(request, [relayHost = defaultRelayHost_, relayPort = defaultRelayPort_,
                          done = std::move(done)](const HttpResponse& r) {
        using Result = ApiResult<RelayAccount::Session>;
        if (!r.isAnswer()) return done(Result::transport(*r.transportError));
        // A body that is not the expected object counts as one without any key.
        const auto fields = typedObject(r.body, {"account", "token", "relay", "error"}, {});
        const auto text = [&](const char* key) { return fields ? fields->text(key) : std::nullopt; };
        if (r.status != 200)
            return done(Result::refused(text("error").value_or(tr("Sign-in failed (%1).").arg(r.status))));
        const auto name = text("account"), token = text("token");
        if (!name || !token)
            return done(Result::refused(text("error").value_or(tr("The relay didn't return a token."))));
        RelayAccount::Session session{*name, *token, relayHost, relayPort};
        if (const auto relay = text("relay")) {
            const QStringList pieces = relay->split(u':', Qt::SkipEmptyParts);
            const auto port = pieces.size() == 2 ? decimalPort(pieces[1]) : std::nullopt;
            if (port) {
                session.relayHost = pieces[0];
                session.relayPort = *port;
            }
        }
        done(Result::ok(session));
    });
}

void AccountApi::presence(const QString& token, PresenceDone done) {
    const auto to = url(QStringLiteral("/v1/presence"));
    if (!to) return done(ApiResult<std::set<QString>>::refused(tr("Bad relay address.")));
    HttpRequest request{"GET", *to, {{"Authorization", "Bearer " + token.toUtf8()}}, {}, presenceTimeout};
    http_->send(request, [done = std::move(done)](const HttpResponse& r) {
        using Result = ApiResult<std::set<QString>>;
        if (!r.isAnswer()) return done(Result::transport(*r.transportError));
        const auto fields = typedObject(r.body, {"account", "error"}, {"live"});
        if (r.status != 200) {
            const auto error = fields ? fields->text("error") : std::nullopt;
            return done(Result::refused(error.value_or(QStringLiteral("presence %1").arg(r.status))));
        }
        std::set<QString> live;
        if (fields)
            for (const QString& id : fields->textList("live"))
                live.insert(id.toLower());
        done(Result::ok(std::move(live)));
    });
}

void AccountApi::claim(const QString& code, TextDone done) {
    const auto to = url(QStringLiteral("/v1/claim"));
    if (!to) return done(ApiResult<QString>::refused(tr("Bad relay address.")));
    HttpRequest request{"POST",
                        *to,
                        {{"Content-Type", "application/json"}},
                        QJsonDocument(QJsonObject{{"code", code}}).toJson(QJsonDocument::Compact),
                        callTimeout};
    http_->send(request, [done = std::move(done)](const HttpResponse& r) {
        using Result = ApiResult<QString>;
        if (!r.isAnswer()) return done(Result::transport(*r.transportError));
        // Read loosely: any member that is not text is as good as missing.
        const QJsonDocument doc = QJsonDocument::fromJson(r.body);
        const QJsonObject o = doc.isObject() ? doc.object() : QJsonObject();
        if (r.status != 200) {
            const QJsonValue error = o.value(QLatin1String("error"));
            return done(Result::refused(error.isString() ? error.toString() : tr("That code didn't work.")));
        }
        const QJsonValue payload = o.value(QLatin1String("payload"));
        if (!payload.isString() || payload.toString().isEmpty())
            return done(Result::refused(tr("That code didn't return a machine.")));
        done(Result::ok(payload.toString()));
    });
}

} // namespace dovrel::controller
