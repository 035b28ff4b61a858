#include "controller/ui/deck/MachineSymbol.h"

#include <QRegularExpression>
#include <QStringList>

namespace dovrel::controller {

namespace {
QString platformSymbol(Device::Kind kind) {
    switch (kind) {
    case Device::Kind::mac: return QStringLiteral("macbook");
    case Device::Kind::windows: return QStringLiteral("pc");
    case Device::Kind::linux: return QStringLiteral("terminal");
    }
    return QStringLiteral("macbook");
}
} // namespace

QString machineSymbol(Device::Kind kind, const QString& name) {
    struct Shape {
        const char* symbol;
        QStringList words;
    };
    static const Shape shapes[] = {
        {"server.rack", {QStringLiteral("server"), QStringLiteral("nas"), QStringLiteral("rack")}},
        {"desktop.tower", {QStringLiteral("tower"), QStringLiteral("desktop"), QStringLiteral("workstation")}},
        {"macbook", {QStringLiteral("laptop"), QStringLiteral("notebook"), QStringLiteral("macbook")}},
    };
    // Words are runs of letters and digits: "Mac mini · server" and "Ana's-Laptop" split as a person reads
    // them, and "Servers" or "Nasir" name no shape.
    static const QRegularExpression apart(QStringLiteral("[^\\p{L}\\p{N}]+"));
    const QStringList words = name.toCaseFolded().split(apart, Qt::SkipEmptyParts);
    for (const Shape& shape : shapes)
        for (const QString& word : shape.words)
            if (words.contains(word)) return QString::fromLatin1(shape.symbol);
    return platformSymbol(kind);
}

} // namespace dovrel::controller
