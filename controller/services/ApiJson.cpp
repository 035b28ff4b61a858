#include "controller/services/ApiJson.h"

#include <QJsonArray>
#include <QJsonDocument>

#include "protocol/WEXConstants.h"

namespace dovrel::controller {

std::optional<QString> TypedObject::text(const char* key) const {
    const QJsonValue v = object.value(QLatin1String(key));
    if (!v.isString()) return std::nullopt;
    return v.toString();
}

QStringList TypedObject::textList(const char* key) const {
    QStringList out;
    for (const QJsonValue& v : object.value(QLatin1String(key)).toArray())
        out.append(v.toString());
    return out;
}

std::optional<TypedObject> typedObject(const QByteArray& body, std::initializer_list<const char*> textKeys,
                                       std::initializer_list<const char*> textListKeys) {
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (!doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    const auto present = [&](const char* key) {
        const QJsonValue v = o.value(QLatin1String(key));
        return !v.isUndefined() && !v.isNull();
    };
    for (const char* key : textKeys)
        if (present(key) && !o.value(QLatin1String(key)).isString()) return std::nullopt;
    for (const char* key : textListKeys) {
        if (!present(key)) continue;
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isArray()) return std::nullopt;
        for (const QJsonValue& item : v.toArray())
            if (!item.isString()) return std::nullopt;
    }
    return TypedObject{o};
}

std::optional<QUrl> apiUrl(const QString& host, uint16_t port, const QString& path) {
    const QUrl url(QString::fromStdString(wex::WEX::apiBase(host.toStdString(), port)) + path, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) return std::nullopt;
    return url;
}

} // namespace dovrel::controller
