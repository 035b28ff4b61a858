#include "controller/ui/session/RadialWheel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>

namespace dovrel::controller {

namespace {

double wheelAngle(int index, int count) {
    return count < 2 ? -std::numbers::pi / 2
                     : wheelArcStart * std::numbers::pi + wheelArcSweep * std::numbers::pi * index / (count - 1);
}

// The room between buttons `i` and `j` of the wheel (negative: they overlap). Two rounded rectangles
// of one corner radius are as far apart as their straight cores, less both corners.
double roomBetween(const WheelGeometry& g, int i, int j, int count) {
    const QPointF a = wheelOffset(g, i, count), b = wheelOffset(g, j, count);
    const double r = g.cornerRadius;
    const double coreX = g.buttonWidth - 2 * r, coreY = g.buttonHeight - 2 * r;
    const double x = std::max(0.0, std::abs(a.x() - b.x()) - coreX), y = std::max(0.0, std::abs(a.y() - b.y()) - coreY);
    return std::hypot(x, y) - 2 * r;
}

bool anyTouch(const WheelGeometry& g, int count) {
    for (int i = 0; i < count; ++i)
        for (int j = i + 1; j < count; ++j)
            if (roomBetween(g, i, j, count) < g.gap) return true;
    return false;
}

} // namespace

WheelGeometry wheelGeometry(int count, double requestedRadius, bool compact, WheelLabels labels) {
    WheelGeometry g;
    g.compact = compact;
    if (count > 9) {
        g.arcStep = 56;
        g.buttonWidth = 50;
    }
    const double margins = 2 * RadialWheelModel::labelMargin;
    const double oneLine = std::ceil(labels.label) + margins;
    g.buttonWidth =
        std::max(g.buttonWidth, oneLine <= RadialWheelModel::oneLineUpTo ? oneLine : std::ceil(labels.word) + margins);
    g.radius = std::max(requestedRadius, g.arcStep * (std::max(count, 2) - 1) / (wheelArcSweep * std::numbers::pi));
    while (anyTouch(g, count))
        g.radius += 1;
    // From the top of the highest button to the foot of the lowest, with 10 of margin round it all.
    double top = 0, bottom = 0, side = 0;
    for (int i = 0; i < std::max(count, 1); ++i) {
        const QPointF p = wheelOffset(g, i, std::max(count, 1));
        top = std::min(top, p.y());
        bottom = std::max(bottom, p.y());
        side = std::max(side, std::abs(p.x()) + g.buttonWidth / 2);
    }
    g.frameWidth = 2 * side + 20;
    g.centerY = -top + g.buttonHeight / 2 + 10;
    g.frameHeight = g.centerY + bottom + g.buttonHeight / 2 + 10;
    return g;
}

QPointF wheelOffset(const WheelGeometry& g, int index, int count) {
    const double angle = wheelAngle(index, count);
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
        {WheelCommand::notifications, pick("Action Center", "Notify", "Notify"), QStringLiteral("bell.fill")},
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

WheelLabels RadialWheelModel::measure(const std::vector<WheelEntry>& entries) {
    QFont font = QGuiApplication::font();
    font.setPixelSize(static_cast<int>(labelPixels));
    font.setWeight(QFont::Medium);
    const QFontMetricsF metrics(font);
    WheelLabels widest;
    for (const WheelEntry& e : entries) {
        widest.label = std::max(widest.label, metrics.horizontalAdvance(e.label));
        for (const QString& word : e.label.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            widest.word = std::max(widest.word, metrics.horizontalAdvance(word));
    }
    return widest;
}

RadialWheelModel::RadialWheelModel(bool withSendFile, QObject* parent)
    : QAbstractListModel(parent), withSendFile_(withSendFile) {
    entries_ = wheelActionsFor(words_, withSendFile_);
    geometry_ = wheelGeometry(static_cast<int>(entries_.size()), requestedRadius, false, measure(entries_));
}

void RadialWheelModel::setWords(WheelWords words) {
    if (words == words_) return;
    words_ = words;
    beginResetModel();
    entries_ = wheelActionsFor(words_, withSendFile_);
    geometry_ = wheelGeometry(static_cast<int>(entries_.size()), requestedRadius, false, measure(entries_));
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
