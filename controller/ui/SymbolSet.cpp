#include "controller/ui/SymbolSet.h"

namespace dovrel::controller {

const QStringList& SymbolSet::names() {
    static const QStringList all = {
        // the deck, its footer and the cards
        QStringLiteral("moon.fill"), QStringLiteral("sun.max.fill"), QStringLiteral("lock.fill"),
        QStringLiteral("person.crop.circle.fill"), QStringLiteral("person.crop.circle.badge.questionmark"),
        QStringLiteral("plus"), QStringLiteral("display.2"), QStringLiteral("bolt.fill"), QStringLiteral("macbook"),
        QStringLiteral("pc"), QStringLiteral("terminal"), QStringLiteral("powersleep"), QStringLiteral("eye"),
        QStringLiteral("eye.slash"), QStringLiteral("moon.zzz.fill"), QStringLiteral("xmark"), QStringLiteral("pencil"),
        QStringLiteral("trash"), QStringLiteral("trash.fill"),
        // the demo desktop
        QStringLiteral("apple.logo"), QStringLiteral("battery.75"), QStringLiteral("wifi"), QStringLiteral("safari"),
        QStringLiteral("mail"), QStringLiteral("message"), QStringLiteral("folder"), QStringLiteral("music.note"),
        QStringLiteral("gearshape"),
        // the assistant panel
        QStringLiteral("wand.and.stars"), QStringLiteral("square.and.arrow.down"),
        QStringLiteral("square.and.arrow.up"), QStringLiteral("doc.on.doc"), QStringLiteral("xmark.circle")};
    return all;
}

QString SymbolSet::resourcePath(const QString& name) {
    if (!names().contains(name)) return {};
    return QStringLiteral(":/dovrel/symbols/") + name + QStringLiteral(".svg");
}

QUrl SymbolSet::url(const QString& name) const {
    const QString path = resourcePath(name);
    return path.isEmpty() ? QUrl() : QUrl(QStringLiteral("qrc") + path);
}

} // namespace dovrel::controller
