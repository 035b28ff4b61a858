#include "controller/services/LanScope.h"

#include <vector>

#include <QList>

namespace dovrel::controller::LanScope {

namespace {
std::optional<uint32_t> octet(QStringView part) {
    bool negative = false;
    if (part.startsWith(u'+')) {
        part = part.mid(1);
    } else if (part.startsWith(u'-')) {
        part = part.mid(1);
        negative = true;
    }
    if (part.isEmpty()) return std::nullopt;
    uint32_t value = 0;
    for (const QChar c : part) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > 255) return std::nullopt;
    }
    if (negative && value != 0) return std::nullopt;
    return value;
}
} // namespace

std::optional<uint32_t> ipv4(const QString& text) {
    std::vector<uint32_t> numbers;
    for (const QStringView part : QStringView(text).split(u'.', Qt::SkipEmptyParts))
        if (const auto n = octet(part)) numbers.push_back(*n);
    if (numbers.size() != 4) return std::nullopt;
    return numbers[0] << 24 | numbers[1] << 16 | numbers[2] << 8 | numbers[3];
}

bool isLocal(const QString& host, const NetworkInterfaces& interfaces) {
    const auto address = ipv4(host);
    if (!address) return false;
    const auto list = interfaces.ipv4Addresses();
    if (!list) return false;
    for (const InterfaceAddress& i : *list)
        if (i.mask != 0 && (i.address & i.mask) == (*address & i.mask)) return true;
    return false;
}

} // namespace dovrel::controller::LanScope
