#include "controller/ui/deck/MachineCardFace.h"

#include <QCoreApplication>
#include <cmath>

#include "controller/ui/deck/MachineSymbol.h"

namespace dovrel::controller {

namespace {
QString tr(const char* text) { return QCoreApplication::translate("MachineCard", text); }
} // namespace

QString percentText(double fraction) {
    const double percent = std::trunc(fraction * 100);
    if (!std::isfinite(percent)) return QStringLiteral("0%");
    return QString::number(static_cast<long long>(percent)) + QLatin1Char('%');
}

MachineCardFace machineCardFace(const Device& device, bool demo) {
    MachineCardFace face;
    // The computer is on but DOVRELÆ does not run there: none of what "awake" promises holds, and a
    // click says so (there is nothing to wake).
    const bool stopped = device.state == Device::State::awake && device.agentStopped;
    const bool awake = device.state == Device::State::awake && !stopped;
    const bool offline = device.state == Device::State::offline;
    face.kindSymbol = machineSymbol(device.kind, device.name);
    switch (device.state) {
    case Device::State::awake:
        face.stateWord = stopped ? tr("DOVRELÆ isn’t running") : tr("awake");
        face.tone = stopped ? QStringLiteral("stopped") : QStringLiteral("good");
        break;
    case Device::State::asleep:
        face.stateWord = tr("asleep");
        face.tone = QStringLiteral("warn");
        break;
    case Device::State::offline:
        face.stateWord = tr("offline");
        face.tone = QStringLiteral("dim");
        break;
    }
    // An empty text would leave a lone "·" behind the state word, and one that repeats it ("asleep ·
    // asleep") says nothing more; beside the longer words of a stopped agent it would not fit.
    if (!offline && !stopped && !device.lastSeen.isEmpty() && device.lastSeen != QStringLiteral("paired") &&
        device.lastSeen != stateText(device.state))
        face.lastSeen = QStringLiteral("· ") + device.lastSeen;

    if (offline)
        face.thumbnail = MachineCardFace::Thumbnail::offline;
    else if (device.privacyFrost)
        face.thumbnail = MachineCardFace::Thumbnail::frost;
    else if (demo)
        face.thumbnail = MachineCardFace::Thumbnail::demo;
    else
        face.thumbnail = MachineCardFace::Thumbnail::prompt;

    const bool hasMac = present(device.mac);
    if (device.state == Device::State::asleep)
        face.promptGlyph = QStringLiteral("moon.zzz.fill");
    else if (stopped)
        face.promptGlyph = QStringLiteral("app.slash");
    else
        face.promptGlyph = face.kindSymbol;
    if (stopped)
        face.promptText = tr("Start DOVRELÆ on it, then click to connect");
    else if (awake)
        face.promptText = tr("Click to control");
    else if (hasMac)
        face.promptText = tr("Click to wake & connect");
    else
        face.promptText = tr("Click to connect");

    face.breathes = awake;
    // Figures only while a session reports them: numbers a finished session left, or none at all, would
    // read as the machine's load now.
    face.showsStats = !offline && device.statsCurrent;
    face.showsSparkline = awake && device.statsCurrent && !device.cpu.empty();
    face.opens = !offline;
    // The promise of "wake & connect" is kept whatever covers the thumbnail; demo machines are drawn, not
    // reached, so nothing goes on the network for them.
    face.wakesFirst = !demo && device.state == Device::State::asleep && hasMac;
    face.cpuText = percentText(device.cpu.empty() ? 0 : device.cpu.back());
    face.ramText = percentText(device.ram);
    if (device.battery) face.batteryText = percentText(*device.battery);

    face.frostTitle = device.privacyFrost ? tr("Show") : tr("Frost");
    face.frostSymbol = device.privacyFrost ? QStringLiteral("eye") : QStringLiteral("eye.slash");
    face.frostMenuTitle = device.privacyFrost ? tr("Show thumbnail") : tr("Frost thumbnail");
    face.frostMenuSymbol = face.frostSymbol;
    return face;
}

} // namespace dovrel::controller
