#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace dovrel::controller {

// An answer's JSON object decoded against the keys it may carry, each optional.
struct TypedObject {
    QJsonObject object;
    std::optional<QString> text(const char* key) const;
    QStringList textList(const char* key) const;
};

// Nothing when the body is not a JSON object or a listed key holds a value of another type (an
// absent key and null are fine): such an answer counts as one without any of its keys.
std::optional<TypedObject> typedObject(const QByteArray& body, std::initializer_list<const char*> textKeys,
                                       std::initializer_list<const char*> textListKeys);

// "https://host[:port]" + path; nothing when that makes no usable URL.
std::optional<QUrl> apiUrl(const QString& host, uint16_t port, const QString& path);

} // namespace dovrel::controller
