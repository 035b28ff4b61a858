#include "controller/ui/LaunchArguments.h"

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
    return a;
}

LaunchArguments::AutoConnect LaunchArguments::autoConnect() const {
    if (autoHost) return AutoConnect::host;
    if (autoRelay) return AutoConnect::relay;
    if (autoLink) return AutoConnect::link;
    return AutoConnect::none;
}

} // namespace dovrel::controller
