#include "controller/ui/look/SymbolSet.h"

namespace dovrel::controller {

const QStringList& SymbolSet::names() {
    static const QStringList all = {
        // the deck, its footer and the cards
        QStringLiteral("moon.fill"), QStringLiteral("sun.max.fill"), QStringLiteral("lock.fill"),
        QStringLiteral("person.crop.circle.fill"), QStringLiteral("person.crop.circle.badge.questionmark"),
        QStringLiteral("plus"), QStringLiteral("display.2"), QStringLiteral("bolt.fill"), QStringLiteral("macbook"),
        QStringLiteral("pc"), QStringLiteral("terminal"), QStringLiteral("desktop.tower"),
        QStringLiteral("server.rack"), QStringLiteral("powersleep"), QStringLiteral("eye"), QStringLiteral("eye.slash"),
        QStringLiteral("moon.zzz.fill"), QStringLiteral("xmark"), QStringLiteral("pencil"), QStringLiteral("trash"),
        QStringLiteral("trash.fill"), QStringLiteral("app.slash"),
        // the demo desktop
        QStringLiteral("apple.logo"), QStringLiteral("battery.75"), QStringLiteral("wifi"), QStringLiteral("safari"),
        QStringLiteral("mail"), QStringLiteral("message"), QStringLiteral("folder"), QStringLiteral("music.note"),
        QStringLiteral("gearshape"),
        // the assistant panel
        QStringLiteral("wand.and.stars"), QStringLiteral("square.and.arrow.down"),
        QStringLiteral("square.and.arrow.up"), QStringLiteral("doc.on.doc"), QStringLiteral("xmark.circle"),
        // the session window: the pointer modes, the top row, the wheel, the notices, the guide and the pill
        QStringLiteral("hand.tap"), QStringLiteral("rectangle.and.hand.point.up.left"),
        QStringLiteral("cursorarrow.motionlines"), QStringLiteral("cursorarrow.click.2"), QStringLiteral("checkmark"),
        QStringLiteral("speaker.wave.2.fill"), QStringLiteral("speaker.slash.fill"), QStringLiteral("questionmark"),
        QStringLiteral("arrow.up.left.and.arrow.down.right"), QStringLiteral("rectangle.3.group"),
        QStringLiteral("square.grid.3x3.fill"), QStringLiteral("magnifyingglass"),
        QStringLiteral("menubar.dock.rectangle"), QStringLiteral("bell.fill"), QStringLiteral("arrow.up.doc.fill"),
        QStringLiteral("exclamationmark.shield.fill"), QStringLiteral("xmark.circle.fill"),
        QStringLiteral("lock.shield.fill"), QStringLiteral("exclamationmark.triangle.fill"),
        QStringLiteral("arrow.up.and.down.and.arrow.left.and.right"), QStringLiteral("keyboard"),
        QStringLiteral("circle.grid.cross.fill"), QStringLiteral("chevron.up"), QStringLiteral("display"),
        QStringLiteral("rectangle.portrait.and.arrow.right"),
        // the pairing screen
        QStringLiteral("chevron.left"), QStringLiteral("text.bubble"), QStringLiteral("link"),
        QStringLiteral("bolt.horizontal.fill"),
        // the window's own buttons in the title area
        QStringLiteral("window.minimize"), QStringLiteral("window.maximize"), QStringLiteral("window.restore"),
        QStringLiteral("window.close")};
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
