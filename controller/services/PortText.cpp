#include "controller/services/PortText.h"

namespace dovrel::controller {

std::optional<uint16_t> decimalPort(QStringView text) {
    if (text.startsWith(u'+')) text = text.mid(1);
    if (text.isEmpty()) return std::nullopt;
    uint32_t value = 0; // leading zeros are fine: "08443" is 8443
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > 65535) return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

} // namespace dovrel::controller
