#include "controller/services/RelayLink.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "controller/services/ApiJson.h"
#include "controller/services/ShareCode.h"

namespace dovrel::controller {

RelayLink::RelayLink(std::shared_ptr<HttpClient> http, QObject* parent) : QObject(parent), http_(std::move(http)) {}

void RelayLink::claim(const QString& code, const QString& host, uint16_t port,
                      std::function<void(const ApiResult<QString>&)> done) {
    using Result = ApiResult<QString>;
    const QString normalized = ShareCode::normalize(code);
    if (!ShareCode::looksValid(normalized))
        return done(Result::refused(tr("A code is eight letters and numbers, like K4M2-9QXR.")));
    const auto to = apiUrl(host, port, QStringLiteral("/v1/claim"));
    if (!to) return done(Result::refused(tr("Bad relay address.")));
    HttpRequest request{"POST",
                        *to,
                        {{"Content-Type", "application/json"}},
                        QJsonDocument(QJsonObject{{"code", normalized}}).toJson(QJsonDocument::Compact),
                        std::chrono::seconds(20)};
    http_->send(request, [done = std::move(done)](const HttpResponse& r) {
        if (!r.isAnswer()) return done(Result::transport(*r.transportError));
        const auto fields = typedObject(r.body, {"payload", "error"}, {});
        const auto payload = fields ? fields->text("payload") : std::nullopt;
        const auto error = fields ? fields->text("error") : std::nullopt;
        if (r.status == 200) {
            if (payload && !payload->isEmpty()) return done(Result::ok(*payload));
            return done(Result::refused(tr("That code has nothing behind it any more.")));
        }
        done(Result::refused(error.value_or(tr("That code didn't work (%1).").arg(r.status))));
    });
}

} // namespace dovrel::controller
