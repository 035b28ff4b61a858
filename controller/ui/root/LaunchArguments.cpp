#include "controller/ui/root/LaunchArguments.h"

#include <QObject>

namespace dovrel::controller {

std::optional<QString> LaunchArguments::valueOf(const QStringList& arguments, const QString& name) {
    const qsizetype at = arguments.indexOf(name);
    if (at < 0 || at + 1 >= arguments.size()) return std::nullopt;
    return arguments.at(at + 1);
}

LaunchArguments LaunchArguments::parse(const QStringList& arguments) {
    LaunchArguments a;
    a.autoHost = valueOf(arguments, QStringLiteral("-autoHost"));
    a.autoRelay = valueOf(arguments, QStringLiteral("-autoRelay"));
    a.autoLink = valueOf(arguments, QStringLiteral("-autoLink"));
    a.pairingCode = valueOf(arguments, QStringLiteral("-pairingCode"));
    a.demo = arguments.contains(QStringLiteral("-demo"));
    a.storeDemo = arguments.contains(QStringLiteral("-DovrelDemo"));
    a.windowSnapshot = valueOf(arguments, QStringLiteral("-windowSnapshot"));

    for (const char* name : {"-autoHost", "-autoRelay", "-autoLink", "-pairingCode", "-windowSnapshot"}) {
        const qsizetype at = arguments.indexOf(QLatin1String(name));
        if (at >= 0 && at + 1 == arguments.size())
            a.problems << QObject::tr("%1 was not used: it needs a value after it.").arg(QLatin1String(name));
    }
    if (a.autoHost && a.autoRelay) a.problems << QObject::tr("-autoRelay was not used: -autoHost comes first.");
    if ((a.autoHost || a.autoRelay) && a.autoLink)
        a.problems << QObject::tr("-autoLink was not used: %1 comes first.")
                          .arg(a.autoHost ? QStringLiteral("-autoHost") : QStringLiteral("-autoRelay"));
    if (a.pairingCode && !a.autoHost && !a.autoRelay)
        a.problems << (a.autoLink ? QObject::tr("-pairingCode was not used: the link given with -autoLink carries its "
                                                "own code.")
                                  : QObject::tr("-pairingCode was not used: it goes with -autoHost or -autoRelay."));
    return a;
}

LaunchArguments::AutoConnect LaunchArguments::autoConnect() const {
    if (autoHost) return AutoConnect::host;
    if (autoRelay) return AutoConnect::relay;
    if (autoLink) return AutoConnect::link;
    return AutoConnect::none;
}

} // namespace dovrel::controller
