#include "controller/ui/RadialWheel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace dovrel::controller {

WheelGeometry wheelGeometry(int count, double requestedRadius, bool compact) {
    WheelGeometry g;
    g.compact = compact;
    if (count > 9) {
        g.arcStep = 56;
        g.buttonWidth = 50;
    }
    const double minimum = g.arcStep * (std::max(count, 2) - 1) / (1.1 * std::numbers::pi);
    g.radius = std::min(std::max(requestedRadius, minimum), 168.0);
    g.frameWidth = 2 * g.radius + g.buttonWidth + 20;
    // The button's width, not its height, goes into the height too.
    g.frameHeight = (compact ? g.radius : 2 * g.radius) + g.buttonWidth + 20;
    return g;
}

QPointF wheelOffset(const WheelGeometry& g, int index, int count) {
    const double angle =
        count < 2 ? -std::numbers::pi / 2 : 0.95 * std::numbers::pi + 1.1 * std::numbers::pi * index / (count - 1);
    return {std::cos(angle) * g.radius, std::sin(angle) * g.radius + (g.compact ? g.radius / 2 : 0)};
}

WheelWords wheelWordsFor(const QString& kind) {
    if (kind == QLatin1String("windows")) return WheelWords::windows;
    if (kind == QLatin1String("mac")) return WheelWords::mac;
    return WheelWords::neutral;
}

std::vector<WheelEntry> wheelActionsFor(WheelWords words, bool withSendFile) {
    const auto pick = [words](const char* windows, const char* mac, const char* neutral) {
        switch (words) {
        case WheelWords::windows: return QObject::tr(windows);
        case WheelWords::mac: return QObject::tr(mac);
        case WheelWords::neutral: break;
        }
        return QObject::tr(neutral);
    };
    std::vector<WheelEntry> out{
        {WheelCommand::taskView, pick("Task View", "Mission", "Overview"), QStringLiteral("rectangle.3.group")},
        {WheelCommand::start, pick("Start", "Apps", "Apps"), QStringLiteral("square.grid.3x3.fill")},
        {WheelCommand::search, pick("Search", "Spotlight", "Search"), QStringLiteral("magnifyingglass")},
        {WheelCommand::desktop, QObject::tr("Desktop"), QStringLiteral("menubar.dock.rectangle")},
        {WheelCommand::notifications, pick("Action Ctr", "Notify", "Notify"), QStringLiteral("bell.fill")},
        {WheelCommand::displays, QObject::tr("Displays"), QStringLiteral("display.2")},
    };
    if (withSendFile)
        out.push_back({WheelCommand::sendFile, QObject::tr("Send File"), QStringLiteral("arrow.up.doc.fill")});
    out.insert(out.end(), {
                              {WheelCommand::rest, QObject::tr("Rest"), QStringLiteral("moon.zzz.fill")},
                              {WheelCommand::lock, QObject::tr("Lock"), QStringLiteral("lock.fill")},
                          });
    if (words == WheelWords::windows)
        out.push_back({WheelCommand::ctrlAltDel, QObject::tr("Ctrl+Alt+Del"),
                       QStringLiteral("exclamationmark.shield.fill"), WheelTint::warn});
    out.push_back({WheelCommand::end, QObject::tr("End"), QStringLiteral("xmark.circle.fill"), WheelTint::bad});
    return out;
}

RadialWheelModel::RadialWheelModel(bool withSendFile, QObject* parent)
    : QAbstractListModel(parent), withSendFile_(withSendFile) {
    entries_ = wheelActionsFor(words_, withSendFile_);
    geometry_ = wheelGeometry(static_cast<int>(entries_.size()), requestedRadius, false);
}

void RadialWheelModel::setWords(WheelWords words) {
    if (words == words_) return;
    words_ = words;
    beginResetModel();
    entries_ = wheelActionsFor(words_, withSendFile_);
    geometry_ = wheelGeometry(static_cast<int>(entries_.size()), requestedRadius, false);
    endResetModel();
    emit layoutChanged();
}

int RadialWheelModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

QVariant RadialWheelModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const int row = index.row();
    const WheelEntry& e = entries_[static_cast<std::size_t>(row)];
    switch (role) {
    case LabelRole: return e.label;
    case IconRole: return e.icon;
    case TintRole:
        return e.tint == WheelTint::warn  ? QStringLiteral("warn")
               : e.tint == WheelTint::bad ? QStringLiteral("bad")
                                          : QStringLiteral("plain");
    case XRole: return wheelOffset(geometry_, row, rowCount()).x();
    case YRole: return wheelOffset(geometry_, row, rowCount()).y();
    case DelayRole: return wheelStaggerMs(row);
    default: return {};
    }
}

QHash<int, QByteArray> RadialWheelModel::roleNames() const {
    return {{LabelRole, "label"}, {IconRole, "icon"}, {TintRole, "tint"},
            {XRole, "offsetX"},   {YRole, "offsetY"}, {DelayRole, "delayMs"}};
}

} // namespace dovrel::controller
