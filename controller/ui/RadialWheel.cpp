#include "controller/ui/RadialWheel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>

namespace dovrel::controller {

namespace {

double wheelAngle(int index, int count) {
    return count < 2 ? -std::numbers::pi / 2 : 0.95 * std::numbers::pi + 1.1 * std::numbers::pi * index / (count - 1);
}

// The room between two of the wheel's rounded buttons centred `dx`, `dy` apart (negative: they overlap).
double roomBetween(const WheelGeometry& g, double dx, double dy) {
    const double straightX = g.buttonWidth - 2 * g.cornerRadius, straightY = g.buttonHeight - 2 * g.cornerRadius;
    const double x = std::max(0.0, std::abs(dx) - straightX), y = std::max(0.0, std::abs(dy) - straightY);
    return std::hypot(x, y) - 2 * g.cornerRadius;
}

bool anyTouch(const WheelGeometry& g, int count) {
    for (int i = 0; i < count; ++i)
        for (int j = i + 1; j < count; ++j) {
            const QPointF a = wheelOffset(g, i, count), b = wheelOffset(g, j, count);
            if (roomBetween(g, a.x() - b.x(), a.y() - b.y()) < g.gap) return true;
        }
    return false;
}

} // namespace

WheelGeometry wheelGeometry(int count, double requestedRadius, bool compact, double labelWidth) {
    WheelGeometry g;
    g.compact = compact;
    if (count > 9) {
        g.arcStep = 56;
        g.buttonWidth = 50;
    }
    // A label keeps 6 points either side.
    g.buttonWidth = std::max(g.buttonWidth, std::ceil(labelWidth) + 12);
    g.radius = std::max(requestedRadius, g.arcStep * (std::max(count, 2) - 1) / (1.1 * std::numbers::pi));
    while (anyTouch(g, count))
        g.radius += 1;
    // From the top of the highest button to the foot of the lowest, with 10 of margin round it all.
    double top = 0, bottom = 0;
    for (int i = 0; i < std::max(count, 1); ++i) {
        const double y = wheelOffset(g, i, std::max(count, 1)).y();
        top = std::min(top, y);
        bottom = std::max(bottom, y);
    }
    g.frameWidth = 2 * g.radius + g.buttonWidth + 20;
    g.centerY = -top + g.buttonHeight / 2 + 10;
    g.frameHeight = g.centerY + bottom + g.buttonHeight / 2 + 10;
    return g;
}

QPointF wheelOffset(const WheelGeometry& g, int index, int count) {
    const double angle = wheelAngle(index, count);
    return {std::cos(angle) * g.radius, std::sin(angle) * g.radius + (g.compact ? g.radius / 2 : 0)};
}

std::vector<WheelEntry> wheelActionsFor(bool windowsColumn, bool withSendFile) {
    const auto pick = [windowsColumn](const char* windows, const char* mac) {
        return QObject::tr(windowsColumn ? windows : mac);
    };
    std::vector<WheelEntry> out{
        {WheelCommand::taskView, pick("Task View", "Mission"), QStringLiteral("rectangle.3.group")},
        {WheelCommand::start, pick("Start", "Apps"), QStringLiteral("square.grid.3x3.fill")},
        {WheelCommand::search, pick("Search", "Spotlight"), QStringLiteral("magnifyingglass")},
        {WheelCommand::desktop, QObject::tr("Desktop"), QStringLiteral("menubar.dock.rectangle")},
        {WheelCommand::notifications, pick("Action Ctr", "Notify"), QStringLiteral("bell.fill")},
        {WheelCommand::displays, QObject::tr("Displays"), QStringLiteral("display.2")},
    };
    if (withSendFile)
        out.push_back({WheelCommand::sendFile, QObject::tr("Send File"), QStringLiteral("arrow.up.doc.fill")});
    out.insert(out.end(), {
                              {WheelCommand::rest, QObject::tr("Rest"), QStringLiteral("moon.zzz.fill")},
                              {WheelCommand::lock, QObject::tr("Lock"), QStringLiteral("lock.fill")},
                          });
    if (windowsColumn)
        out.push_back({WheelCommand::ctrlAltDel, QObject::tr("Ctrl+Alt+Del"),
                       QStringLiteral("exclamationmark.shield.fill"), WheelTint::warn});
    out.push_back({WheelCommand::end, QObject::tr("End"), QStringLiteral("xmark.circle.fill"), WheelTint::bad});
    return out;
}

double RadialWheelModel::widestLabel(const std::vector<WheelEntry>& entries) {
    QFont font = QGuiApplication::font();
    font.setPixelSize(static_cast<int>(labelPixels));
    font.setWeight(QFont::Medium);
    const QFontMetricsF metrics(font);
    double widest = 0;
    for (const WheelEntry& e : entries)
        widest = std::max(widest, metrics.horizontalAdvance(e.label));
    return widest;
}

RadialWheelModel::RadialWheelModel(bool withSendFile, QObject* parent)
    : QAbstractListModel(parent), withSendFile_(withSendFile) {
    entries_ = wheelActionsFor(windows_, withSendFile_);
    geometry_ = wheelGeometry(static_cast<int>(entries_.size()), requestedRadius, false, widestLabel(entries_));
}

void RadialWheelModel::setWindowsColumn(bool windows) {
    if (windows == windows_) return;
    windows_ = windows;
    beginResetModel();
    entries_ = wheelActionsFor(windows_, withSendFile_);
    geometry_ = wheelGeometry(static_cast<int>(entries_.size()), requestedRadius, false, widestLabel(entries_));
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
