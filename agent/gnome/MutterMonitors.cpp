#include "agent/gnome/MutterMonitors.h"

#include <cmath>
#include <map>

#include <QDBusArgument>
#include <QDBusVariant>
#include <QVariantMap>

namespace dovrel::agent {

namespace {

constexpr uint32_t layoutLogical = 1; // sizes are the mode's divided by the scale

struct Mode {
    int width = 0;
    int height = 0;
};

// connector -> its current mode.
std::map<QString, Mode> currentModes(const QDBusArgument& arg) {
    std::map<QString, Mode> out;
    arg.beginArray();
    while (!arg.atEnd()) {
        arg.beginStructure();
        QString connector, vendor, product, serial;
        arg.beginStructure();
        arg >> connector >> vendor >> product >> serial;
        arg.endStructure();
        arg.beginArray();
        while (!arg.atEnd()) {
            QString id;
            int w = 0, h = 0;
            double refresh = 0, preferredScale = 0;
            QList<double> scales;
            QVariantMap props;
            arg.beginStructure();
            arg >> id >> w >> h >> refresh >> preferredScale >> scales >> props;
            arg.endStructure();
            if (props.value("is-current").toBool()) out[connector] = {w, h};
        }
        arg.endArray();
        QVariantMap monitorProps;
        arg >> monitorProps;
        arg.endStructure();
    }
    arg.endArray();
    return out;
}

} // namespace

std::vector<MutterMonitor> parseMutterMonitors(const QList<QVariant>& reply) {
    if (reply.size() < 4) return {};
    const auto monitorsArg = reply.at(1).value<QDBusArgument>();
    const auto logicalArg = reply.at(2).value<QDBusArgument>();
    if (monitorsArg.currentSignature() != "a((ssss)a(siiddada{sv})a{sv})" ||
        logicalArg.currentSignature() != "a(iiduba(ssss)a{sv})")
        return {};
    QVariantMap globals;
    if (reply.at(3).canConvert<QDBusArgument>())
        reply.at(3).value<QDBusArgument>() >> globals;
    else
        globals = reply.at(3).toMap();
    const bool logical = globals.value("layout-mode").toUInt() == layoutLogical;
    const std::map<QString, Mode> modes = currentModes(monitorsArg);

    std::vector<MutterMonitor> out;
    logicalArg.beginArray();
    while (!logicalArg.atEnd()) {
        int x = 0, y = 0;
        double scale = 1;
        uint transform = 0;
        bool primary = false;
        logicalArg.beginStructure();
        logicalArg >> x >> y >> scale >> transform >> primary;
        std::vector<QString> connectors;
        logicalArg.beginArray();
        while (!logicalArg.atEnd()) {
            QString connector, vendor, product, serial;
            logicalArg.beginStructure();
            logicalArg >> connector >> vendor >> product >> serial;
            logicalArg.endStructure();
            connectors.push_back(connector);
        }
        logicalArg.endArray();
        QVariantMap props;
        logicalArg >> props;
        logicalArg.endStructure();
        if (connectors.empty()) continue;
        MutterMonitor m;
        m.connector = connectors.front().toStdString();
        m.x = x;
        m.y = y;
        m.primary = primary;
        if (const auto it = modes.find(connectors.front()); it != modes.end()) {
            const double divisor = logical && scale > 0 ? scale : 1.0;
            m.width = static_cast<int>(std::lround(it->second.width / divisor));
            m.height = static_cast<int>(std::lround(it->second.height / divisor));
            // A quarter turn either way stands the monitor on its side.
            if (transform % 2 == 1) std::swap(m.width, m.height);
        }
        out.push_back(m);
    }
    logicalArg.endArray();
    return out;
}

void applyStreamParameters(MutterMonitor& monitor, const QVariant& parameters) {
    QVariantMap map;
    if (parameters.canConvert<QDBusArgument>())
        parameters.value<QDBusArgument>() >> map;
    else
        map = parameters.toMap();
    const auto pair = [&](const char* key, int& a, int& b) {
        const QVariant v = map.value(key);
        if (!v.canConvert<QDBusArgument>()) return;
        const auto arg = v.value<QDBusArgument>();
        if (arg.currentSignature() != "(ii)") return;
        arg.beginStructure();
        arg >> a >> b;
        arg.endStructure();
    };
    pair("position", monitor.x, monitor.y);
    pair("size", monitor.width, monitor.height);
}

} // namespace dovrel::agent
