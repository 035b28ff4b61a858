#include "controller/services/ShareCode.h"

#include <cstring>

#include "controller/services/Graphemes.h"

namespace dovrel::controller::ShareCode {

namespace {
bool isSymbol(const QString& character) {
    return character.size() == 1 && character[0].unicode() < 128 && character[0].unicode() != 0 &&
           std::strchr(alphabet, static_cast<char>(character[0].unicode())) != nullptr;
}
} // namespace

QString normalize(const QString& typed) {
    QString out;
    for (const QString& c : graphemes(typed.toUpper())) {
        if (c == u"-" || c == u" " || c == u"\t" || c == u"_") continue;
        if (c == u"O")
            out += u'0';
        else if (c == u"I" || c == u"L")
            out += u'1';
        else
            out += c;
    }
    return out;
}

bool looksValid(const QString& typed) {
    const QStringList characters = graphemes(normalize(typed));
    if (characters.size() != 8) return false;
    for (const QString& c : characters)
        if (!isSymbol(c)) return false;
    return true;
}

QString pretty(const QString& typed) {
    const QString n = normalize(typed);
    const QStringList characters = graphemes(n);
    if (characters.size() != 8) return n;
    return characters.mid(0, 4).join(QString()) + u'-' + characters.mid(4).join(QString());
}

} // namespace dovrel::controller::ShareCode
