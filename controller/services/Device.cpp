#include "controller/services/Device.h"

namespace dovrel::controller {

QString kindText(Device::Kind kind) {
    switch (kind) {
    case Device::Kind::windows: return QStringLiteral("windows");
    case Device::Kind::linux: return QStringLiteral("linux");
    case Device::Kind::mac: break;
    }
    return QStringLiteral("mac");
}

std::optional<Device::Kind> kindFromText(const QString& text) {
    if (text == u"mac") return Device::Kind::mac;
    if (text == u"windows") return Device::Kind::windows;
    if (text == u"linux") return Device::Kind::linux;
    return std::nullopt;
}

QString stateText(Device::State state) {
    switch (state) {
    case Device::State::awake: return QStringLiteral("awake");
    case Device::State::offline: return QStringLiteral("offline");
    case Device::State::asleep: break;
    }
    return QStringLiteral("asleep");
}

QString uuidText(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

std::optional<QUuid> uuidFromText(const QString& text) {
    if (text.size() != 36) return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (dash ? c != u'-' : !hex) return std::nullopt;
    }
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != u"00000000-0000-0000-0000-000000000000") return std::nullopt;
    return id;
}

} // namespace dovrel::controller
