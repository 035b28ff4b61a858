#include "controller/ui/pairing/PairingFilters.h"

#include "controller/services/PairLink.h"
#include "controller/services/ShareCode.h"

namespace dovrel::controller {

namespace {
constexpr qsizetype shareBoxLength = 4;
constexpr qsizetype pairingCodeLength = 6;

bool inShareAlphabet(QChar c) {
    if (c.unicode() > 0x7f) return false;
    for (const char* a = ShareCode::alphabet; *a; ++a)
        if (c.unicode() == static_cast<char16_t>(*a)) return true;
    return false;
}
} // namespace

QString shareCodeBoxText(const QString& typed) {
    // QString::toUpper applies the locale-independent full mapping ("ß" becomes "SS"); QLocale's would
    // turn "i" into "İ" under a Turkish locale.
    const QString upper = typed.toUpper();
    QString kept;
    for (const QChar c : upper) {
        if (kept.size() == shareBoxLength) break;
        if (inShareAlphabet(c)) kept.append(c);
    }
    return kept;
}

QString pairingCodeDigits(const QString& typed) {
    QString kept;
    for (const QChar c : typed) {
        if (kept.size() == pairingCodeLength) break;
        if (c >= u'0' && c <= u'9') kept.append(c);
    }
    return kept;
}

std::optional<TypedMachine> typedMachine(const QString& text) {
    const QString trimmed = text.trimmed();
    if (const auto room = PairLink::room(trimmed)) return TypedMachine{TypedMachine::Way::relay, *room};
    if (const auto host = PairLink::endpoint(trimmed)) return TypedMachine{TypedMachine::Way::lan, *host};
    return std::nullopt;
}

} // namespace dovrel::controller
